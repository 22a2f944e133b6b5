// How many links a message carries: what the posting limit counts and what
// the operator's listing shows.
#pragma once

#include <string>

// Links in `text`: each "http://", "https://" or "ftp://" (any case), and
// each "www." that does not follow one of them, so that "http://www.x"
// counts once. Read as code page 949: the second byte of a two-byte
// character, which may be an ASCII letter there, starts nothing.
int countLinks(const std::string& text);
