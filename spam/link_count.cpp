#include "spam/link_count.h"

#include <cstring>
#include <string>
#include <strings.h>

#include "page/html_escape.h"
#include "page/markup_filter.h"
#include "spam/reader_text.h"

namespace {

// A byte that may follow a scheme as the start of an address.
bool startsAddress(unsigned char c) {
    return c > ' ' && c != '"' && c != '\'' && c != '<' && c != '>' && c != '/';
}

// The length of the link start at `p`, or 0.
std::size_t linkStart(const char* p) {
    static const char* const starts[] = {"http://", "https://", "ftp://", "www."};
    for (const char* start : starts) {
        std::size_t length = std::strlen(start);
        if (strncasecmp(p, start, length) == 0 && startsAddress(static_cast<unsigned char>(p[length]))) return length;
    }
    return 0;
}

// Addresses written out in `text`.
int addressesIn(const char* text) {
    int links = 0;
    for (const char* p = text; *p;) {
        std::size_t length = linkStart(p);
        if (length == 0) {
            ++p;
            continue;
        }
        ++links;
        p += length;
        if (strncasecmp(p, "www.", 4) == 0) p += 4;
    }
    return links;
}

}  // namespace

int countLinks(const char* text) {
    const ShownMarkup shown = shownMarkup(text, std::strlen(text));
    return shown.links + addressesIn(readerBytes(shown.outsideLinks).c_str());
}

int postLinks(const char* name, const char* homepage, const char* subject, const char* body) {
    int links = countLinks(name) + countLinks(subject) + countLinks(body);
    std::string bare;
    for (const char* p = homepage; *p; ++p) {
        if (*p != ' ' && *p != '\t') bare += *p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p;
    }
    const bool unfilled = bare.empty() || bare == "http://" || bare == "https://" || bare == "ftp://";
    if (!unfilled && !homepageHref(homepage).empty()) ++links;
    return links;
}
