#include "text/board_utf8.h"

#include <cerrno>
#include <iconv.h>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool xmlControl(unsigned char byte) { return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7f; }

}  // namespace

std::string utf8OfBoardText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    iconv_t cd = iconv_open("UTF-8", "CP949");
    char* input = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* output = buffer;
        std::size_t outLeft = sizeof buffer;
        std::size_t done = static_cast<std::size_t>(-1);
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            done = iconv(cd, &input, &inLeft, &output, &outLeft);
        } else {
            // Without the C library's conversion modules only ASCII passes.
            while (inLeft > 0 && outLeft > 0 && static_cast<unsigned char>(*input) < 0x80) {
                *output++ = *input++;
                --inLeft;
                --outLeft;
            }
            errno = inLeft > 0 && outLeft > 0 ? EILSEQ : E2BIG;
        }
        for (const char* p = buffer; p < output; ++p) {
            if (!xmlControl(static_cast<unsigned char>(*p))) out += *p;
        }
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG && inLeft > 0) {
            // A byte that starts no character (or a character cut at the end).
            out += kReplacement;
            ++input;
            --inLeft;
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return out;
}

bool isUtf8(const std::string& text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        int length = *p < 0x80 ? 1 : (*p >> 5) == 0x6 ? 2 : (*p >> 4) == 0xe ? 3 : (*p >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || end - p < length) return false;
        for (int k = 1; k < length; ++k) {
            if ((p[k] & 0xc0) != 0x80) return false;
        }
        // Overlong forms and surrogates.
        if ((length == 2 && *p < 0xc2) || (length == 3 && *p == 0xe0 && p[1] < 0xa0) ||
            (length == 3 && *p == 0xed && p[1] >= 0xa0) || (length == 4 && (*p > 0xf4 || (*p == 0xf0 && p[1] < 0x90) ||
                                                                          (*p == 0xf4 && p[1] >= 0x90)))) {
            return false;
        }
        p += length;
    }
    return true;
}

std::string escapeXml(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}
