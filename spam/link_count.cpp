#include "spam/link_count.h"

#include <cstring>
#include <strings.h>

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

}  // namespace

int countLinks(const char* text) {
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
