// The store reader over damaged index files.
#include <cstdint>
#include <cstdio>
#include <string>

#include "store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* index = fmemopen(bytes.data(), bytes.size(), "r");
    if (!index) return 0;
    char header[kHeaderSize];
    char record[kRecordSize];
    if (ReadHeader(index, header) > 0) {
        int count = fieldNumber(header, field::TextCount);
        fieldText(header, field::FileSerial);
        HasStoreLength(index, count);
        for (int n = 1; n <= 4; ++n) {
            if (ReadRecord(index, n, record) > 0) {
                for (StoreField f : {field::TextNum, field::Name, field::Email, field::ReadCount, field::Subject,
                                     field::Homepage, field::RemoteHost, field::FileName})
                    fieldText(record, f);
                fieldNumber(record, field::ReadCount);
                fieldNumber(record, field::TextNum);
            }
            ReadRecordFromEnd(index, n, count, record);
        }
    }
    std::fclose(index);
    return 0;
}
