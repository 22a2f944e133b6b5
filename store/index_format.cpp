#include "store/index_format.h"

#include <cstring>
#include <sys/stat.h>

#include "page/form_decoding.h"

long RecordOffset(int n) { return 410L * n - 285; }

std::size_t fittingLength(const char* text, std::size_t maxBytes) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        unsigned char lead = static_cast<unsigned char>(text[length]);
        std::size_t unit = (lead >= 0x81 && text[length + 1] != '\0') ? 2 : 1;
        if (length + unit > maxBytes) break;
        length += unit;
    }
    return length;
}

void putText(char* buffer, StoreField f, const char* text) {
    std::size_t length = fittingLength(text, static_cast<std::size_t>(f.width - 1));
    std::memcpy(buffer + f.offset, text, length);
    buffer[f.offset + length] = '\0';
}

void putFormatted(char* buffer, StoreField f, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer + f.offset, static_cast<std::size_t>(f.width), format, args);
    va_end(args);
}

void putNumber(char* buffer, StoreField f, int value) { putFormatted(buffer, f, "%d", value); }

std::string fieldText(const char* buffer, StoreField f) {
    const char* start = buffer + f.offset;
    return std::string(start, strnlen(start, static_cast<std::size_t>(f.width)));
}

int fieldNumber(const char* buffer, StoreField f) { return decimalValue(fieldText(buffer, f).c_str()); }

namespace {

int readAt(std::FILE* file, long offset, int whence, char* data, std::size_t size) {
    if (std::fseek(file, offset, whence) != 0) return -1;
    return std::fread(data, 1, size, file) == size ? 1 : -1;
}

int writeAt(std::FILE* file, long offset, const char* data, std::size_t size) {
    if (std::fseek(file, offset, SEEK_SET) != 0) return -1;
    if (std::fwrite(data, 1, size, file) != size) return -1;
    return std::fflush(file) == 0 ? 1 : -1;
}

}  // namespace

int ReadHeader(std::FILE* index, char* header) { return readAt(index, 0, SEEK_SET, header, kHeaderSize); }

int WriteHeader(std::FILE* index, const char* header) { return writeAt(index, 0, header, kHeaderSize); }

int ReadRecord(std::FILE* index, int n, char* record) {
    if (n < 1) return -1;
    return readAt(index, RecordOffset(n), SEEK_SET, record, kRecordSize);
}

int ReadRecordFromEnd(std::FILE* index, int n, int count, char* record) {
    if (n < 1 || n > count) return -1;
    return readAt(index, (static_cast<long>(n) - count - 1) * kRecordSize, SEEK_END, record, kRecordSize);
}

int AppendRecord(std::FILE* index, int n, const char* record) {
    if (n < 1) return -1;
    return writeAt(index, RecordOffset(n), record, kRecordSize);
}

int RewriteRecord(std::FILE* index, int n, const char* record) {
    if (n < 1) return -1;
    return writeAt(index, RecordOffset(n), record, kRecordSize);
}

int BumpReadCount(std::FILE* index, int n, char* record) {
    if (ReadRecord(index, n, record) < 0) return -1;
    int count = fieldNumber(record, field::ReadCount);
    if (count < 0) count = 0;
    // Ten stored digits parse above the cap; "%4d" of such a value would be cut.
    if (count > kMaxReadCount) count = kMaxReadCount;
    if (count < kMaxReadCount) ++count;
    putFormatted(record, field::ReadCount, "%4d", count);
    return RewriteRecord(index, n, record);
}

int HasStoreLength(std::FILE* index, int count) {
    if (count < 0 || count > kMaxMessages) return -1;
    if (std::fflush(index) != 0) return -1;
    struct stat info;
    if (fstat(fileno(index), &info) != 0) return -1;
    return info.st_size == kHeaderSize + static_cast<long>(count) * kRecordSize ? 1 : -1;
}

int CloseStore(std::FILE* index) {
    bool flushed = std::fflush(index) == 0;
    bool closed = std::fclose(index) == 0;
    return flushed && closed ? 1 : -1;
}

std::string readWholeFile(std::FILE* file) {
    std::string data;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
    return data;
}
