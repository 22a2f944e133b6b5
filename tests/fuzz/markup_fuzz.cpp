// The visitor-text filter: whatever it prints holds no script element, no
// event-handler attribute and no script URL inside a tag it let through.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "page/html_escape.h"
#include "page/markup_filter.h"

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void fail(const char* what, const std::string& out) {
    std::fprintf(stderr, "unsafe output (%s): %s\n", what, out.c_str());
    std::abort();
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

struct TagSeen {
    std::string element;
    bool closing;
};

// Reads `out` the way a browser's tokenizer does and checks each tag it
// opens; returns the tags in their order.
std::vector<TagSeen> checkSafe(const std::string& out) {
    std::vector<TagSeen> tags;
    const std::size_t n = out.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (out[k] != '<' || k + 1 >= n) continue;
        std::size_t j = k + 1;
        if (out[j] == '!' || out[j] == '?') fail("comment or declaration", out);
        const bool closing = out[j] == '/';
        if (closing) ++j;
        if (j >= n || !isAlpha(out[j])) continue;
        std::string element;
        while (j < n && !isSpace(out[j]) && out[j] != '/' && out[j] != '>') element += lower(out[j++]);
        tags.push_back({element, closing});
        for (const char* bad : {"script", "svg", "math", "iframe", "style", "object", "embed", "frame", "base",
                                "meta", "link", "form", "textarea", "xmp", "plaintext", "noscript", "template"})
            if (element == bad) fail("element", out);
        for (;;) {
            while (j < n && (isSpace(out[j]) || out[j] == '/')) ++j;
            if (j >= n) fail("unfinished tag", out);
            if (out[j] == '>') break;
            std::string name(1, lower(out[j++]));
            while (j < n && !isSpace(out[j]) && out[j] != '/' && out[j] != '>' && out[j] != '=') name += lower(out[j++]);
            while (j < n && isSpace(out[j])) ++j;
            std::string value;
            if (j < n && out[j] == '=') {
                ++j;
                while (j < n && isSpace(out[j])) ++j;
                if (j < n && (out[j] == '"' || out[j] == '\'')) {
                    std::size_t close = out.find(out[j], j + 1);
                    if (close == std::string::npos) fail("unfinished value", out);
                    value = out.substr(j + 1, close - j - 1);
                    j = close + 1;
                } else {
                    while (j < n && !isSpace(out[j]) && out[j] != '>') value += out[j++];
                }
            }
            if (name.compare(0, 2, "on") == 0) fail("event handler", out);
            if (name == "style") fail("style", out);
            if ((name == "href" || name == "src") && hasForbiddenScheme(value.data(), value.size()))
                fail("script url", out);
        }
        k = j;
    }
    return tags;
}

// Reads the tags of `out` as a tree: every end tag must end an element the
// text opened, only "p" and "li" may be left for a later end tag to end, and
// nothing may stay open at the end; without links no "<a" at all.
void checkContained(const std::vector<TagSeen>& tags, bool linksAllowed, const std::string& out) {
    std::vector<std::string> open;
    for (const TagSeen& tag : tags) {
        const std::string& element = tag.element;
        if (element == "a" && !linksAllowed) fail("link inside a link", out);
        if (!tag.closing) {
            // A block's start ends an open "p", and a new "li" an older one
            // outside another list or block; only "p" and "li" may lie above.
            static const std::string blocks = " p center pre blockquote hr ul ol li div h1 h2 h3 h4 h5 h6 ";
            static const std::string listBlockers = " center pre blockquote ul ol h1 h2 h3 h4 h5 h6 ";
            auto endsAt = [&](const std::string& target, const std::string& blockers) {
                std::size_t at = open.size();
                while (at > 0 && open[at - 1] != target) {
                    if (blockers.find(" " + open[at - 1] + " ") != std::string::npos) return;
                    --at;
                }
                if (at == 0) return;
                for (std::size_t above = at; above < open.size(); ++above)
                    if (open[above] != "p" && open[above] != "li") fail("element left open under a block", out);
                open.resize(at - 1);
            };
            if (blocks.find(" " + element + " ") != std::string::npos) endsAt("p", "");
            if (element == "li") endsAt("li", listBlockers);
            if (element != "br" && element != "hr" && element != "img") open.push_back(element);
            continue;
        }
        if (element == "br") continue;
        std::size_t at = open.size();
        while (at > 0 && open[at - 1] != element) --at;
        if (at == 0) fail("end tag closing nothing of the text", out);
        for (std::size_t above = at; above < open.size(); ++above)
            if (open[above] != "p" && open[above] != "li") fail("element left open under an end tag", out);
        open.resize(at - 1);
    }
    if (!open.empty()) fail("element left open", out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string out = visitorText(reinterpret_cast<const char*>(data), size).html();
    checkContained(checkSafe(out), true, out);
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();
    const std::string href = hrefValue(text.c_str()).html();
    if (href.find_first_of(" \t\n\r\f\"'<>`") != std::string::npos) fail("href break-out", href);
    const std::string inLink = linkText(text.c_str()).html();
    checkContained(checkSafe(inLink), false, inLink);
    const std::string home = homepageHref(text.c_str()).html();
    if (!home.empty() && hasForbiddenScheme(home.data(), home.size())) fail("home page scheme", home);
    return 0;
}
