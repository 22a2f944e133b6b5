// The visitor-markup filter behind visitorText().
#pragma once

#include <cstddef>
#include <string>

// Copies `data` unchanged, except that each "<" opening a tag, an end tag, a
// comment or a declaration becomes "&lt;" unless it is a whole allowed
// formatting tag with only harmless attributes, and that the text cannot
// reach outside itself: an end tag that closes nothing the text opened is
// printed as text, and end tags are added for what it leaves open (and where
// a browser would end an element on its own). Without `linksAllowed`, "<a"
// and "</a" are text too, for texts that the page prints inside its own link.
std::string filterMarkup(const char* data, std::size_t length, bool linksAllowed = true);

// True when `value` (an attribute or href text) would leave the page through
// a scheme other than http, https, ftp or mailto once a browser has dropped
// what it ignores in a URL.
bool hasForbiddenScheme(const char* data, std::size_t length);

// What a reader sees of a visitor's text once filterMarkup (links allowed)
// has done its work: the printed text without its tags, character
// references still as written; and the links the page makes live.
struct ShownMarkup {
    std::string text;
    std::string outsideLinks;  // the part of `text` outside those links
    int links = 0;             // printed anchors with an href
};
ShownMarkup shownMarkup(const char* data, std::size_t length);
