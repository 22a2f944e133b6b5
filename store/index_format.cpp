#include "store/index_format.h"

#include <cstring>

#include "text/decimal.h"

long RecordOffset(int n) { return kHeaderSize + (static_cast<long>(n) - 1) * kRecordSize; }

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
