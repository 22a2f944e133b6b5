#include "html.h"

#include <cstdio>
#include <cstring>

#include "markup_filter.h"

std::string visitorText(const char* text) { return visitorText(text, std::strlen(text)); }

std::string visitorText(const char* data, std::size_t length) { return filterMarkup(data, length); }

// "%" stays as it is: stored addresses may already hold escapes such as
// "%20", and a lone "%" cannot end or break the attribute.
std::string hrefValue(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p <= 0x20 || *p == 0x7f || std::strchr("\"'<>=`", *p)) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", *p);
            out += escape;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out;
}

std::string homepageHref(const char* text) {
    if (hasForbiddenScheme(text, std::strlen(text))) return std::string();
    return hrefValue(text);
}

std::string attributeValue(const char* text) {
    std::string escaped;
    for (const char* p = text; *p; ++p) {
        if (*p == '&') escaped += "&amp;";
        else if (*p == '"') escaped += "&quot;";
        else escaped += *p;
    }
    return escaped;
}
