#include "permission.h"

#include <cstdio>
#include <cstring>

#include "cgi_page.h"

int passwordMatches(const char* posted, const char* configured) {
    std::size_t postedLength = strnlen(posted, kTextSize);
    std::size_t configuredLength = strnlen(configured, kTextSize);
    // Compare over the whole field width whatever the lengths, so that
    // neither the length nor the first differing byte shows in the time.
    unsigned difference = postedLength == configuredLength ? 0u : 1u;
    difference |= postedLength >= kTextSize ? 1u : 0u;
    difference |= configuredLength == 0 ? 1u : 0u;
    for (std::size_t i = 0; i < kTextSize; ++i) {
        unsigned char a = i < postedLength ? static_cast<unsigned char>(posted[i]) : 0;
        unsigned char b = i < configuredLength ? static_cast<unsigned char>(configured[i]) : 0;
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0 ? 1 : -1;
}

void showDenialPage(CgiPage& page, const char* ownLine) {
    char message[kTextSize];
    std::snprintf(message, sizeof message, "<font color=228b22 size=2>Access denied.</font><br>%c\t\t\t      %s", '\n',
                  ownLine);
    page.showErrorPage(message);
}
