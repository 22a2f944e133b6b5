#include "text/hangul.h"

#include <vector>

namespace {

constexpr unsigned long kFirstSyllable = 0xAC00;
constexpr unsigned long kLastSyllable = 0xD7A3;
// The extension's trail bytes: 178 per lead byte below 0xA1, 84 from it on.
constexpr int kWideLeads = 32;
constexpr int kWideTrails = 178;
constexpr int kNarrowTrails = 84;

bool isKs(unsigned long index) { return (kKsHangulBits[index / 8] >> (index % 8)) & 1; }

int extensionTrail(int k) {
    if (k < 26) return 0x41 + k;
    if (k < 52) return 0x61 + k - 26;
    return 0x81 + k - 52;
}

// The next character of `text` from `*at`, or -1 for bytes that are no UTF-8.
long nextCodePoint(const std::string& text, std::size_t* at) {
    unsigned char first = static_cast<unsigned char>(text[*at]);
    int length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3 : (first >> 3) == 30 ? 4 : 0;
    if (length == 0 || *at + length > text.size()) return -1;
    long codePoint = length == 1 ? first : first & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[*at + k]);
        if ((next & 0xC0) != 0x80) return -1;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    *at += length;
    return codePoint;
}

}  // namespace

std::string hangulBytes(unsigned long codePoint) {
    unsigned long index = codePoint - kFirstSyllable;
    // Counted once: a text may name thousands of syllables by reference.
    static const std::vector<unsigned short> ksBeforeTable = [] {
        std::vector<unsigned short> table(kLastSyllable - kFirstSyllable + 1);
        unsigned short count = 0;
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i] = count;
            count = static_cast<unsigned short>(count + isKs(i));
        }
        return table;
    }();
    int ksBefore = ksBeforeTable[index];
    if (isKs(index)) {
        return {static_cast<char>(0xB0 + ksBefore / 94), static_cast<char>(0xA1 + ksBefore % 94)};
    }
    int rank = static_cast<int>(index) - ksBefore;
    if (rank < kWideLeads * kWideTrails) {
        return {static_cast<char>(0x81 + rank / kWideTrails), static_cast<char>(extensionTrail(rank % kWideTrails))};
    }
    rank -= kWideLeads * kWideTrails;
    return {static_cast<char>(0xA1 + rank / kNarrowTrails), static_cast<char>(extensionTrail(rank % kNarrowTrails))};
}

bool utf8ToCp949(const std::string& utf8, std::string* bytes) {
    bytes->clear();
    for (std::size_t at = 0; at < utf8.size();) {
        long codePoint = nextCodePoint(utf8, &at);
        if (codePoint >= 0 && codePoint < 0x80) {
            *bytes += static_cast<char>(codePoint);
        } else if (codePoint >= static_cast<long>(kFirstSyllable) && codePoint <= static_cast<long>(kLastSyllable)) {
            *bytes += hangulBytes(static_cast<unsigned long>(codePoint));
        } else {
            return false;
        }
    }
    return true;
}
