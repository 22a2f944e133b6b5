// A visitor's text as its reader sees it, for the defences that judge what
// a post shows (its words, its links) rather than how it was typed.
#pragma once

#include <string>

// Bytes of the posts' code page as a browser shows them: character
// references decoded (a character other than ASCII and the Hangul
// syllables becomes one byte, 0x01, that is part of no word), bytes that
// start no character skipped, ASCII letters in small case. `shown` is
// printed text with its tags already dropped (see shownMarkup).
std::string readerBytes(const std::string& shown);

// The whole way from a posted or stored text: the markup filter's output,
// its tags dropped, then readerBytes.
std::string readerText(const char* text);

// True when `word` (code page 949, ASCII letters small) starts at a
// character of `reader` (a readerText).
bool readerHoldsWord(const std::string& reader, const std::string& word);
