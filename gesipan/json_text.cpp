#include "json_text.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace {

// Converts one character between code pages; false when it does not convert.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool convert(const std::string& in, std::string* out) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char buffer[16];
        char* input = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* output = buffer;
        std::size_t outLeft = sizeof buffer;
        if (iconv(cd_, &input, &inLeft, &output, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return false;
        out->assign(buffer, sizeof buffer - outLeft);
        return true;
    }

private:
    iconv_t cd_;
};

Converter& toUtf8() {
    static Converter converter("UTF-8", "CP949");
    return converter;
}

Converter& fromUtf8() {
    static Converter converter("CP949", "UTF-8");
    return converter;
}

void appendEscape(std::string* out, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", value);
    *out += escape;
}

void appendUtf8(std::string* out, unsigned long code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool hexValue(const std::string& json, std::size_t at, unsigned* value) {
    if (at + 4 > json.size()) return false;
    *value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        char c = json[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        *value = *value * 16 + digit;
    }
    return true;
}

// Length of the UTF-8 sequence starting with `lead`, 0 for no lead byte.
std::size_t utf8Length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

}  // namespace

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"') {
                out += "\\\"";
            } else if (c == '\\') {
                out += "\\\\";
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c < 0x20 || c == 0x7F) {
                appendEscape(&out, c);
            } else {
                out.push_back(static_cast<char>(c));
            }
            ++i;
            continue;
        }
        // Only a pair that comes back as the same two bytes is a character.
        std::string pair = text.substr(i, 2);
        std::string utf8;
        std::string back;
        if (pair.size() == 2 && toUtf8().convert(pair, &utf8) && fromUtf8().convert(utf8, &back) && back == pair) {
            out += utf8;
            i += 2;
        } else {
            appendEscape(&out, 0xDC00u | c);
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string terminalText(const std::string& text) {
    std::string literal = jsonText(text);
    return literal.substr(1, literal.size() - 2);
}

bool boardBytes(const std::string& json, std::size_t* at, std::string* bytes) {
    std::size_t i = *at;
    if (i >= json.size() || json[i] != '"') return false;
    ++i;
    bytes->clear();
    while (i < json.size()) {
        unsigned char c = static_cast<unsigned char>(json[i]);
        if (c == '"') {
            *at = i + 1;
            return true;
        }
        if (c < 0x20) return false;
        if (c == '\\') {
            if (i + 1 >= json.size()) return false;
            char kind = json[i + 1];
            i += 2;
            switch (kind) {
                case '"': bytes->push_back('"'); continue;
                case '\\': bytes->push_back('\\'); continue;
                case '/': bytes->push_back('/'); continue;
                case 'b': bytes->push_back('\b'); continue;
                case 'f': bytes->push_back('\f'); continue;
                case 'n': bytes->push_back('\n'); continue;
                case 'r': bytes->push_back('\r'); continue;
                case 't': bytes->push_back('\t'); continue;
                case 'u': break;
                default: return false;
            }
            unsigned code;
            if (!hexValue(json, i, &code)) return false;
            i += 4;
            if (code >= 0xDC80 && code <= 0xDCFF) {
                bytes->push_back(static_cast<char>(code & 0xFF));  // a byte kept as it was
                continue;
            }
            unsigned long character = code;
            if (code >= 0xD800 && code <= 0xDBFF) {
                unsigned low;
                if (i + 6 > json.size() || json[i] != '\\' || json[i + 1] != 'u' || !hexValue(json, i + 2, &low) ||
                    low < 0xDC00 || low > 0xDFFF) {
                    return false;
                }
                i += 6;
                character = 0x10000 + ((static_cast<unsigned long>(code) - 0xD800) << 10) + (low - 0xDC00);
            } else if (code >= 0xDC00 && code <= 0xDFFF) {
                return false;
            }
            std::string utf8;
            appendUtf8(&utf8, character);
            std::string converted;
            if (character < 0x80) {
                converted = utf8;
            } else if (!fromUtf8().convert(utf8, &converted)) {
                return false;
            }
            *bytes += converted;
            continue;
        }
        std::size_t length = utf8Length(c);
        if (length == 0 || i + length > json.size()) return false;
        if (length == 1) {
            bytes->push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        std::string converted;
        if (!fromUtf8().convert(json.substr(i, length), &converted)) return false;
        *bytes += converted;
        i += length;
    }
    return false;
}

bool boardBytesOfUtf8(const std::string& utf8, std::string* bytes) {
    bytes->clear();
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = utf8Length(static_cast<unsigned char>(utf8[i]));
        if (length == 0 || i + length > utf8.size()) return false;
        std::string converted;
        if (length == 1) {
            converted = utf8.substr(i, 1);
        } else if (!fromUtf8().convert(utf8.substr(i, length), &converted)) {
            return false;
        }
        *bytes += converted;
        i += length;
    }
    return true;
}
