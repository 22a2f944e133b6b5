// The visitor-markup filter behind visitorText().
#pragma once

#include <cstddef>
#include <string>

// Copies `data` unchanged, except that each "<" opening a tag, an end tag, a
// comment or a declaration becomes "&lt;" unless it is a whole allowed
// formatting tag with only harmless attributes.
std::string filterMarkup(const char* data, std::size_t length);

// True when `value` (an attribute or href text) would leave the page through
// a scheme other than http, https, ftp or mailto once a browser has dropped
// what it ignores in a URL.
bool hasForbiddenScheme(const char* data, std::size_t length);
