// Escaping for each place a page puts a text: every visitor text that a
// page prints passes through one of these (or PageOut's default escaping).
// Each result is Markup, printed as it is.
#pragma once

#include <cstddef>
#include <string>

#include "page/html_out.h"

// A stored or posted text shown as page content (name, subject, e-mail,
// host, home page, body). Harmless markup stays as the visitor wrote it.
Markup visitorText(const char* text);
Markup visitorText(const char* data, std::size_t length);

// The same, for a text that the page prints inside its own link: the
// visitor's own links show as text.
Markup linkText(const char* text);

// A text placed right after "mailto:" or "http://" in an unquoted href.
Markup hrefValue(const char* text);

// A home page printed as a whole unquoted href.
Markup homepageHref(const char* text);

// A text inside a double-quoted attribute value: "&" and the quotation mark
// escaped, except the "&" of a character reference that a browser wrote for
// a character EUC-KR has no bytes for (see browserReference).
Markup attributeValue(const char* text);

// A stored body as text-area content: every exact "<br>" dropped, "&" and
// the "<" of a closing textarea tag escaped, so the browser posts back the
// text the visitor wrote; "&" of a browser's reference as in attributeValue.
Markup textAreaText(const std::string& body);

// Length of the reference at `text` when it is one that a browser sends for
// a character EUC-KR cannot hold ("&#" decimal code point ";", no leading
// zero); else 0. Printed unescaped it shows the character, and the browser
// sends it back as the same reference.
std::size_t browserReference(const char* text);
