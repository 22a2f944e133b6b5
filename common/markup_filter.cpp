#include "markup_filter.h"

#include <cstring>

namespace {

bool isAlpha(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isAlnum(unsigned char c) { return isAlpha(c) || isDigit(c); }
// What an HTML tokenizer takes as white space between attributes.
bool isHtmlSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c); }

bool inList(const std::string& word, const char* const* list) {
    for (; *list; ++list)
        if (word == *list) return true;
    return false;
}

const char* const kElements[] = {"b",  "i",   "u",  "s",  "strike", "em",         "strong", "font", "br",
                                 "p",  "center", "big", "small", "sub", "sup",   "tt",     "pre",  "blockquote",
                                 "hr", "ul",  "ol", "li", "span",   "div",        "h1",     "h2",   "h3",
                                 "h4", "h5",  "h6", "a",  "img",    nullptr};

// Attributes harmless on every allowed element.
const char* const kCommonAttributes[] = {"align", "title", "class", "dir", "lang", nullptr};

bool attributeAllowed(const std::string& element, const std::string& name) {
    if (inList(name, kCommonAttributes)) return true;
    static const char* const font[] = {"color", "size", "face", nullptr};
    static const char* const anchor[] = {"href", "name", "target", nullptr};
    static const char* const image[] = {"src", "alt", "width", "height", "border", "hspace", "vspace", nullptr};
    static const char* const rule[] = {"size", "width", "noshade", "color", nullptr};
    static const char* const list[] = {"type", "start", "value", "compact", nullptr};
    static const char* const quote[] = {"cite", nullptr};
    static const char* const br[] = {"clear", nullptr};
    if (element == "font") return inList(name, font);
    if (element == "a") return inList(name, anchor);
    if (element == "img") return inList(name, image);
    if (element == "hr") return inList(name, rule);
    if (element == "ul" || element == "ol" || element == "li") return inList(name, list);
    if (element == "blockquote") return inList(name, quote);
    if (element == "br") return inList(name, br);
    return false;
}

bool isUrlAttribute(const std::string& name) { return name == "href" || name == "src" || name == "cite"; }

// Named references a browser turns into the bytes that matter for a scheme.
int namedReference(const std::string& name) {
    struct Ref {
        const char* name;
        int value;
    };
    static const Ref refs[] = {{"colon", ':'}, {"tab", '\t'}, {"newline", '\n'}, {"amp", '&'},
                               {"sol", '/'},   {"num", '#'},  {"quest", '?'},    {"period", '.'}};
    for (const Ref& r : refs)
        if (name == r.name) return r.value;
    return -1;
}

// The URL as a browser reads its scheme: references decoded, blanks and
// control bytes dropped, letters folded. An unknown "&name;" becomes 0x01,
// which can never be part of an allowed scheme.
std::string schemeView(const char* data, std::size_t length) {
    std::string out;
    std::size_t k = 0;
    while (k < length) {
        unsigned char c = static_cast<unsigned char>(data[k]);
        int decoded = c;
        std::size_t next = k + 1;
        if (c == '&' && k + 1 < length && data[k + 1] == '#') {
            std::size_t j = k + 2;
            bool hex = j < length && (data[j] == 'x' || data[j] == 'X');
            if (hex) ++j;
            long value = 0;
            std::size_t digits = 0;
            while (j < length) {
                unsigned char d = static_cast<unsigned char>(data[j]);
                int v = isDigit(d) ? d - '0' : (hex && isAlpha(d) && lower(d) <= 'f') ? lower(d) - 'a' + 10 : -1;
                if (v < 0) break;
                if (value < 0x110000) value = value * (hex ? 16 : 10) + v;
                ++j;
                ++digits;
            }
            if (digits > 0) {
                if (j < length && data[j] == ';') ++j;
                decoded = value < 0x80 ? static_cast<int>(value) : 0x80;
                next = j;
            }
        } else if (c == '&') {
            std::size_t j = k + 1;
            std::string name;
            while (j < length && isAlnum(static_cast<unsigned char>(data[j])) && name.size() < 32)
                name += lower(static_cast<unsigned char>(data[j++]));
            if (!name.empty() && j < length && data[j] == ';') {
                int value = namedReference(name);
                decoded = value >= 0 ? value : 0x01;
                next = j + 1;
            }
        }
        k = next;
        if (decoded <= 0x20 || decoded == 0x7f) {
            if (decoded == 0x01 && c == '&') out += '\x01';
            continue;
        }
        out += lower(static_cast<unsigned char>(decoded));
    }
    return out;
}

struct Tag {
    std::size_t end = 0;  // index just past ">"
    bool allowed = false;
};

// Reads the tag starting at data[start] == '<'. An unfinished tag is not allowed.
Tag readTag(const char* data, std::size_t length, std::size_t start) {
    Tag tag;
    std::size_t k = start + 1;
    bool closing = k < length && data[k] == '/';
    if (closing) ++k;
    std::string element;
    while (k < length && isAlnum(static_cast<unsigned char>(data[k])) && element.size() < 16)
        element += lower(static_cast<unsigned char>(data[k++]));
    if (element.empty() || !isAlpha(static_cast<unsigned char>(element[0])) || !inList(element, kElements))
        return tag;
    if (k < length && !isHtmlSpace(data[k]) && data[k] != '/' && data[k] != '>') return tag;
    if (closing) {
        while (k < length && isHtmlSpace(data[k])) ++k;
        if (k < length && data[k] == '>') {
            tag.end = k + 1;
            tag.allowed = true;
        }
        return tag;
    }
    for (;;) {
        while (k < length && (isHtmlSpace(data[k]) || data[k] == '/')) ++k;
        if (k >= length) return tag;
        if (data[k] == '>') {
            tag.end = k + 1;
            tag.allowed = true;
            return tag;
        }
        std::string name;
        while (k < length && (isAlpha(static_cast<unsigned char>(data[k])) || data[k] == '-') && name.size() < 32)
            name += lower(static_cast<unsigned char>(data[k++]));
        if (name.empty() || !attributeAllowed(element, name)) return tag;
        if (k < length && !isHtmlSpace(data[k]) && data[k] != '/' && data[k] != '>' && data[k] != '=') return tag;
        while (k < length && isHtmlSpace(data[k])) ++k;
        if (k >= length) return tag;
        if (data[k] != '=') continue;
        ++k;
        while (k < length && isHtmlSpace(data[k])) ++k;
        if (k >= length) return tag;
        std::size_t valueStart = k;
        std::size_t valueEnd;
        if (data[k] == '"' || data[k] == '\'') {
            const char quote = data[k];
            const void* found = std::memchr(data + k + 1, quote, length - k - 1);
            if (!found) return tag;
            valueStart = k + 1;
            valueEnd = static_cast<const char*>(found) - data;
            k = valueEnd + 1;
            if (k < length && !isHtmlSpace(data[k]) && data[k] != '/' && data[k] != '>') return tag;
        } else {
            while (k < length && !isHtmlSpace(data[k]) && data[k] != '>') {
                // Bytes a browser flags inside an unquoted value; refuse rather than guess.
                if (std::strchr("\"'<=`", data[k]) && data[k] != '\0') return tag;
                ++k;
            }
            valueEnd = k;
        }
        if (isUrlAttribute(name) && hasForbiddenScheme(data + valueStart, valueEnd - valueStart)) return tag;
    }
}

}  // namespace

bool hasForbiddenScheme(const char* data, std::size_t length) {
    const std::string view = schemeView(data, length);
    std::size_t colon = view.find(':');
    if (colon == std::string::npos) return false;
    const std::string scheme = view.substr(0, colon);
    // A "/", "?" or "#" before the colon makes it a path, not a scheme.
    if (scheme.find_first_of("/?#") != std::string::npos) return false;
    return !(scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "mailto");
}

std::string filterMarkup(const char* data, std::size_t length) {
    std::string out;
    out.reserve(length + length / 8);
    std::size_t k = 0;
    while (k < length) {
        const void* found = std::memchr(data + k, '<', length - k);
        std::size_t lt = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : length;
        out.append(data + k, lt - k);
        if (lt >= length) break;
        unsigned char next = lt + 1 < length ? static_cast<unsigned char>(data[lt + 1]) : 0;
        bool opens = isAlpha(next) || next == '/' || next == '!' || next == '?';
        if (!opens) {
            out += '<';
            k = lt + 1;
            continue;
        }
        Tag tag = readTag(data, length, lt);
        if (tag.allowed) {
            out.append(data + lt, tag.end - lt);
            k = tag.end;
        } else {
            out += "&lt;";
            k = lt + 1;
        }
    }
    return out;
}
