#include "page/html_escape.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "text/euc_kr_table.h"
#include "page/markup_filter.h"

Markup visitorText(const char* text) { return visitorText(text, std::strlen(text)); }

// The one raw source of visitor text: what the markup filter lets through.
Markup visitorText(const char* data, std::size_t length) { return Markup::raw(filterMarkup(data, length)); }

Markup linkText(const char* text) { return Markup::raw(filterMarkup(text, std::strlen(text), false)); }

// "%" stays as it is: stored addresses may already hold escapes such as
// "%20", and a lone "%" cannot end or break the attribute; nor can the "="
// of a query, which must stay one for the address to work.
Markup hrefValue(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p <= 0x20 || *p == 0x7f || std::strchr("\"'<>`", *p)) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", *p);
            out += escape;
        } else {
            out += static_cast<char>(*p);
        }
    }
    return Markup::raw(out);
}

Markup homepageHref(const char* text) {
    if (hasForbiddenScheme(text, std::strlen(text))) return Markup();
    // Encoding can turn a scheme hidden behind control bytes ("htt\x11p:")
    // into a different one; what is printed must pass the same check.
    Markup encoded = hrefValue(text);
    if (hasForbiddenScheme(encoded.html().data(), encoded.html().size())) return Markup();
    return encoded;
}

std::size_t browserReference(const char* text) {
    if (text[0] != '&' || text[1] != '#' || text[2] < '1' || text[2] > '9') return 0;
    unsigned long value = 0;
    std::size_t k = 2;
    for (; text[k] >= '0' && text[k] <= '9'; ++k) {
        if (k > 8) return 0;  // past U+10FFFF
        value = value * 10 + static_cast<unsigned long>(text[k] - '0');
    }
    if (text[k] != ';') return 0;
    // Below U+00A0 a browser reads some references as other characters
    // (&#128; is the euro sign); surrogates become U+FFFD.
    if (value < 0xA0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return eucKrEncodes(value) ? 0 : k + 1;
}

Markup attributeValue(const char* text) {
    std::string escaped;
    for (const char* p = text; *p; ++p) {
        if (*p == '&' && browserReference(p)) escaped += '&';
        else if (*p == '&') escaped += "&amp;";
        else if (*p == '"') escaped += "&quot;";
        else escaped += *p;
    }
    return Markup::raw(escaped);
}

namespace {

std::string dropLineBreaks(const std::string& body) {
    std::string text;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body.compare(i, 4, "<br>") == 0) {
            i += 3;
        } else {
            text += body[i];
        }
    }
    return text;
}

}  // namespace

Markup textAreaText(const std::string& body) {
    // Escaping after the breaks are dropped also catches a closing tag
    // that only forms once a "<br>" inside it is gone.
    const std::string text = dropLineBreaks(body);
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && browserReference(text.c_str() + i)) {
            escaped += '&';
        } else if (text[i] == '&') {
            escaped += "&amp;";
        } else if (text[i] == '<' && strncasecmp(text.c_str() + i, "</textarea", 10) == 0) {
            escaped += "&lt;";
        } else {
            escaped += text[i];
        }
    }
    return Markup::raw(escaped);
}

