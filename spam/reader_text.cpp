#include "spam/reader_text.h"

#include <cstring>

#include "page/markup_filter.h"
#include "text/hangul.h"

namespace {

constexpr char kOtherCharacter = '\x01';

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexDigit(char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// The bytes a code point shows as.
std::string characterBytes(unsigned long code) {
    if (code > 0 && code < 0x80) return std::string(1, static_cast<char>(code));
    if (code >= 0xAC00 && code <= 0xD7A3) return hangulBytes(code);
    return std::string(1, kOtherCharacter);
}

// The reference at text[at] ("&#N", "&#xN", or one of the few names a
// board's text uses, ";" optional as browsers read them in text): its
// length, and its bytes in `*bytes`; 0 when there is none.
std::size_t reference(const std::string& text, std::size_t at, std::string* bytes) {
    std::size_t k = at + 1;
    if (k < text.size() && text[k] == '#') {
        ++k;
        const bool hex = k < text.size() && (text[k] == 'x' || text[k] == 'X');
        if (hex) ++k;
        const std::size_t first = k;
        unsigned long code = 0;
        while (k < text.size() && (hex ? isHexDigit(text[k]) : isDigit(text[k]))) {
            // Past U+10FFFF it is the replacement character, however long.
            if (code <= 0x10FFFF) code = code * (hex ? 16 : 10) + static_cast<unsigned long>(hexDigit(text[k]));
            ++k;
        }
        if (k == first) return 0;
        if (k < text.size() && text[k] == ';') ++k;
        *bytes = characterBytes(code);
        return k - at;
    }
    static const struct {
        const char* name;
        char byte;
    } names[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
    for (const auto& named : names) {
        const std::size_t length = std::strlen(named.name);
        if (text.compare(k, length, named.name) != 0) continue;
        k += length;
        if (k < text.size() && text[k] == ';') ++k;
        *bytes = std::string(1, named.byte);
        return k - at;
    }
    return 0;
}

// Whether `lead` and `trail` are one character of code page 949 as a
// browser's EUC-KR decoder reads them: its extension takes ASCII letters
// as trail bytes only up to lead 0xC6 (trail 0x52 there), KS X 1001 the
// trail bytes from 0xA1.
bool isCharacter(unsigned char lead, unsigned char trail) {
    if (lead < 0x81 || lead > 0xFE) return false;
    const bool letter = (trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A);
    if (trail >= 0xA1 && trail <= 0xFE) return true;
    if (lead <= 0xC5) return letter || (trail >= 0x81 && trail <= 0xA0);
    if (lead == 0xC6) return trail >= 0x41 && trail <= 0x52;
    return false;
}

}  // namespace

std::string readerBytes(const std::string& shown) {
    std::string out;
    out.reserve(shown.size());
    for (std::size_t at = 0; at < shown.size();) {
        const unsigned char c = static_cast<unsigned char>(shown[at]);
        std::string decoded;
        std::size_t length = c == '&' ? reference(shown, at, &decoded) : 0;
        if (length > 0) {
            for (char d : decoded) out += d >= 'A' && d <= 'Z' ? static_cast<char>(d - 'A' + 'a') : d;
            at += length;
        } else if (c < 0x80) {
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
            ++at;
        } else if (at + 1 < shown.size() && isCharacter(c, static_cast<unsigned char>(shown[at + 1]))) {
            out.append(shown, at, 2);
            at += 2;
        } else {
            // Bytes that are no character show as nothing a word can hold. A
            // high byte after a lead byte goes with it, an ASCII one is read on
            // its own, as a browser's decoder reads them.
            const bool pair = c >= 0x81 && c <= 0xFE && at + 1 < shown.size() &&
                              static_cast<unsigned char>(shown[at + 1]) >= 0x80;
            at += pair ? 2 : 1;
        }
    }
    return out;
}

std::string readerText(const char* text) { return readerBytes(shownMarkup(text, std::strlen(text)).text); }

bool readerHoldsWord(const std::string& reader, const std::string& word) {
    if (word.empty()) return false;
    for (std::size_t at = 0; at + word.size() <= reader.size();
         at += static_cast<unsigned char>(reader[at]) >= 0x81 ? 2 : 1) {
        if (reader.compare(at, word.size(), word) == 0) return true;
    }
    return false;
}
