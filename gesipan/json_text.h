// Board text (EUC-KR, and the code page 949 that browsers send) to and from
// JSON string literals in UTF-8. A byte that does not start a character
// which converts there and back unchanged is written as the escape
// "\udcXX" (XX its value): a lone low surrogate, which no character
// converts to, so reading the literal gives back every byte as it was.
#pragma once

#include <string>

// The JSON string literal, quotes included, of the board bytes `text`.
std::string jsonText(const std::string& text);

// The board bytes of the JSON string literal at `json[*at]` (its opening
// quote); moves `*at` past the closing quote. False when the literal is
// not well formed or holds a character that EUC-KR cannot hold.
bool boardBytes(const std::string& json, std::size_t* at, std::string* bytes);

// The board bytes of UTF-8 text typed by the owner; false when it is not
// UTF-8 or holds a character that code page 949 cannot hold.
bool boardBytesOfUtf8(const std::string& utf8, std::string* bytes);

// Board bytes made safe for the owner's terminal, to be printed without
// quotes: characters in UTF-8, every control byte and every byte that is no
// character written as jsonText writes it, so no byte a visitor posted can
// drive the terminal. Every print of a stored text goes through it.
std::string terminalText(const std::string& text);
