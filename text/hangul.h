// UTF-8 text to the bytes of code page 949 (EUC-KR and its extension, as
// browsers send Korean), for ASCII and the Hangul syllables: enough for the
// words of the ban list, without the C library's conversion modules, which
// a statically linked program cannot count on.
#pragma once

#include <string>

// One bit per syllable from U+AC00: set for the 2350 of KS X 1001.
extern const unsigned char kKsHangulBits[1397];

// The two bytes of Hangul syllable `codePoint` (U+AC00..U+D7A3).
std::string hangulBytes(unsigned long codePoint);

// `utf8` in code page 949 into `bytes`; false when it holds a character
// other than ASCII and Hangul syllables, or is no UTF-8.
bool utf8ToCp949(const std::string& utf8, std::string* bytes);
