// The HTML helper layer: every visitor text that a page prints passes
// through one of these before it reaches emit().
#pragma once

#include <cstddef>
#include <string>

// A stored or posted text shown as page content (name, subject, e-mail,
// host, home page, body). Harmless markup stays as the visitor wrote it.
std::string visitorText(const char* text);
std::string visitorText(const char* data, std::size_t length);

// A text placed right after "mailto:" or "http://" in an unquoted href.
std::string hrefValue(const char* text);

// A home page printed as a whole unquoted href.
std::string homepageHref(const char* text);

// A text inside a double-quoted attribute value: "&" and the quotation mark escaped.
std::string attributeValue(const char* text);

// A stored body as text-area content: every exact "<br>" dropped, "&" and
// the "<" of a closing textarea tag escaped, so the browser posts back the
// text the visitor wrote.
std::string textAreaText(const std::string& body);
