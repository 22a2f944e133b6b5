#include "page/markup_filter.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

constexpr const char* kElements[] = {"b",  "i",   "u",  "s",  "strike", "em",         "strong", "font", "br",
                                 "p",  "center", "big", "small", "sub", "sup",   "tt",     "pre",  "blockquote",
                                 "hr", "ul",  "ol", "li", "span",   "div",        "h1",     "h2",   "h3",
                                 "h4", "h5",  "h6", "a",  "img",    nullptr};
// Positions in kElements of the ones the tree rules below name.
enum Element : int {
    kBr = 8, kP = 9, kCenter = 10, kPre = 16, kBlockquote = 17, kHr = 18, kUl = 19, kOl = 20, kLi = 21,
    kDiv = 23, kH1 = 24, kH6 = 29, kA = 30, kImg = 31, kElementCount = 32
};

constexpr bool sameText(const char* a, const char* b) { return *a == *b && (*a == '\0' || sameText(a + 1, b + 1)); }
static_assert(sameText(kElements[kBr], "br") && sameText(kElements[kP], "p") && sameText(kElements[kCenter], "center") &&
                  sameText(kElements[kPre], "pre") && sameText(kElements[kBlockquote], "blockquote") &&
                  sameText(kElements[kHr], "hr") && sameText(kElements[kUl], "ul") && sameText(kElements[kOl], "ol") &&
                  sameText(kElements[kLi], "li") && sameText(kElements[kDiv], "div") && sameText(kElements[kH1], "h1") &&
                  sameText(kElements[kH6], "h6") && sameText(kElements[kA], "a") && sameText(kElements[kImg], "img") &&
                  kElements[kElementCount] == nullptr,
              "element positions");

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
    bool closing = false;
    bool hasHref = false;
    int element = -1;  // index into kElements
};

int elementIndex(const std::string& name) {
    for (int i = 0; kElements[i]; ++i)
        if (name == kElements[i]) return i;
    return -1;
}

// Reads the tag starting at data[start] == '<'. An unfinished tag is not allowed.
Tag readTag(const char* data, std::size_t length, std::size_t start) {
    Tag tag;
    std::size_t k = start + 1;
    bool closing = k < length && data[k] == '/';
    if (closing) ++k;
    std::string element;
    while (k < length && isAlnum(static_cast<unsigned char>(data[k])) && element.size() < 16)
        element += lower(static_cast<unsigned char>(data[k++]));
    if (element.empty() || !isAlpha(static_cast<unsigned char>(element[0]))) return tag;
    tag.element = elementIndex(element);
    tag.closing = closing;
    if (tag.element < 0) return tag;
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
        if (name == "href") tag.hasHref = true;
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
                // Only blanks and ">" end an unquoted value; "=" and "?" of a
                // query stay inside it. Quotes, "<" and "`" are refused: some
                // browsers have read them as the start of something else.
                if (std::strchr("\"'<`", data[k]) && data[k] != '\0') return tag;
                ++k;
            }
            valueEnd = k;
        }
        if (isUrlAttribute(name) && hasForbiddenScheme(data + valueStart, valueEnd - valueStart)) return tag;
    }
}

// The visitor's open elements, kept so that the browser builds the same tree
// from what is printed: whatever the browser would close on its own is
// closed here in so many words, and what the text leaves open is closed at
// its end. Only "p" and "li", which browsers end silently, may stay without
// an end tag, and only where the browser is sure to end them at that point.
class OpenElements {
public:
    explicit OpenElements(std::string& out) : out_(out) {}

    // Prints the start tag data[start, end) or refuses it (false).
    bool start(int element, bool linksAllowed, const char* data, std::size_t start, std::size_t end) {
        if (element == kA) {
            if (!linksAllowed) return false;
            if (!positions_[kA].empty()) closeDownTo(positions_[kA].back(), true);
        }
        if (closesParagraph(element) && !positions_[kP].empty()) closeDownTo(positions_[kP].back(), false);
        if (element == kLi && !positions_[kLi].empty() && static_cast<long>(positions_[kLi].back()) > topListBlocker())
            closeDownTo(positions_[kLi].back(), false);
        if (isHeading(element) && !stack_.empty() && isHeading(stack_.back())) closeDownTo(stack_.size() - 1, true);
        out_.append(data + start, end - start);
        if (!isVoid(element)) push(element);
        return true;
    }

    // Prints the end tag data[start, end) when it closes an element the text
    // opened; otherwise refuses it (false). "</br>" is a line break to every
    // browser and closes nothing, so it stays.
    bool end(int element, const char* data, std::size_t start, std::size_t end) {
        if (element == kBr) {
            out_.append(data + start, end - start);
            return true;
        }
        if (isVoid(element) || positions_[element].empty()) return false;
        const std::size_t at = positions_[element].back();
        closeAbove(at);
        out_.append(data + start, end - start);
        pop();
        return true;
    }

    void closeAll() {
        if (!stack_.empty()) closeDownTo(0, true);
    }

private:
    static bool isVoid(int element) { return element == kBr || element == kHr || element == kImg; }
    static bool isHeading(int element) { return element >= kH1 && element <= kH6; }
    // Start tags that end an open "p".
    static bool closesParagraph(int element) {
        switch (element) {
            case kP: case kCenter: case kPre: case kBlockquote: case kHr: case kUl: case kOl: case kLi: case kDiv:
                return true;
            default:
                return isHeading(element);
        }
    }
    // The browser ends these silently before an end tag of a block below them.
    static bool endsSilently(int element) { return element == kP || element == kLi; }
    // End tags of blocks: the browser first ends a "p" or "li" above them.
    static bool endsOpenParagraphs(int element) { return closesParagraph(element) && !isVoid(element); }
    // Elements that keep a new "li" from ending an older one below them.
    static bool blocksListItem(int element) {
        switch (element) {
            case kCenter: case kPre: case kBlockquote: case kUl: case kOl:
                return true;
            default:
                return isHeading(element);
        }
    }

    // Stack position of the topmost such element, or -1.
    long topListBlocker() const {
        long top = -1;
        for (int e = 0; e < kElementCount; ++e)
            if (blocksListItem(e) && !positions_[e].empty()) top = std::max(top, static_cast<long>(positions_[e].back()));
        return top;
    }

    void push(int element) {
        positions_[element].push_back(stack_.size());
        stack_.push_back(element);
    }
    void pop() {
        positions_[stack_.back()].pop_back();
        stack_.pop_back();
    }
    void printEnd(int element) {
        out_ += "</";
        out_ += kElements[element];
        out_ += '>';
    }

    // Ends every element above stack_[at]. A "p" or "li" goes without an end
    // tag only when nothing but other such elements lies between it and a
    // block whose end tag comes next: the browser ends it there itself.
    void closeAbove(std::size_t at) {
        std::size_t silentUpTo = at;  // stack_(at, silentUpTo] may end silently
        if (endsOpenParagraphs(stack_[at]))
            while (silentUpTo + 1 < stack_.size() && endsSilently(stack_[silentUpTo + 1])) ++silentUpTo;
        while (stack_.size() > at + 1) {
            if (stack_.size() - 1 > silentUpTo) printEnd(stack_.back());
            pop();
        }
    }

    void closeDownTo(std::size_t at, bool printTarget) {
        closeAbove(at);
        if (printTarget) printEnd(stack_.back());
        pop();
    }

    std::string& out_;
    std::vector<int> stack_;
    std::vector<std::size_t> positions_[kElementCount];
};

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

std::string filterMarkup(const char* data, std::size_t length, bool linksAllowed) {
    std::string out;
    out.reserve(length + length / 8);
    OpenElements open(out);
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
        bool printed = false;
        if (tag.allowed) {
            printed = tag.closing ? open.end(tag.element, data, lt, tag.end)
                                  : open.start(tag.element, linksAllowed, data, lt, tag.end);
        }
        if (printed) {
            k = tag.end;
        } else {
            out += "&lt;";
            k = lt + 1;
        }
    }
    open.closeAll();
    return out;
}

ShownMarkup shownMarkup(const char* data, std::size_t length) {
    // The filter's output, read again with the filter's own tag reader:
    // every tag there is a whole allowed one, so what is left is the text.
    const std::string out = filterMarkup(data, length, true);
    ShownMarkup shown;
    bool inLink = false;
    std::size_t k = 0;
    while (k < out.size()) {
        const unsigned char next = k + 1 < out.size() ? static_cast<unsigned char>(out[k + 1]) : 0;
        if (out[k] == '<' && (isAlpha(next) || next == '/')) {
            Tag tag = readTag(out.data(), out.size(), k);
            if (tag.allowed) {
                if (tag.element == kA) {
                    inLink = !tag.closing && tag.hasHref;
                    if (inLink) ++shown.links;
                }
                k = tag.end;
                continue;
            }
        }
        shown.text += out[k];
        if (!inLink) shown.outsideLinks += out[k];
        ++k;
    }
    return shown;
}
