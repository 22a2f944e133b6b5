// The redo record reader over any bytes: a board directory may hold a
// record cut short by a power cut, or bytes that were never a record.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/redo_record.h"
#include "store/index_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    RedoRecord redo;
    if (redo.decode(bytes)) {
        // Whatever decodes encodes back to the same bytes and names only
        // files inside the board directory.
        if (redo.encode() != bytes) std::abort();
        for (const RedoStep& step : redo.steps()) {
            if (step.kind == RedoStep::Rename || step.kind == RedoStep::Remove) {
                if (!isPlainName(step.bytes)) std::abort();
            }
            if (step.kind == RedoStep::Rename && !isPlainName(step.target)) std::abort();
        }
    }
    // Field reads stay within their widths whatever a record holds.
    if (size >= kRecordSize) {
        for (StoreField f : {field::TextNum, field::Name, field::ReadCount, field::Subject, field::FileName}) {
            fieldText(bytes.data(), f);
            fieldNumber(bytes.data(), f);
        }
    }
    return 0;
}
