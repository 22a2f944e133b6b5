// Board text (EUC-KR, and the code page 949 that browsers send) as UTF-8,
// for the documents served in UTF-8: the feed and the front page.
#pragma once

#include <string>

// `text` in UTF-8: a byte that starts no character of code page 949 becomes
// U+FFFD, and the control characters that XML 1.0 cannot carry are dropped.
std::string utf8OfBoardText(const std::string& text);

// True when `text` is well-formed UTF-8.
bool isUtf8(const std::string& text);

// "&", "<", ">" and the quotation mark as XML references.
std::string escapeXml(const std::string& text);
