#include "html.h"

#include <cstring>

std::string visitorText(const char* text) { return visitorText(text, std::strlen(text)); }

std::string visitorText(const char* data, std::size_t length) { return std::string(data, length); }

std::string hrefValue(const char* text) { return text; }

std::string homepageHref(const char* text) { return text; }

std::string attributeValue(const char* text) {
    std::string escaped;
    for (const char* p = text; *p; ++p) {
        if (*p == '&') escaped += "&amp;";
        else if (*p == '"') escaped += "&quot;";
        else escaped += *p;
    }
    return escaped;
}
