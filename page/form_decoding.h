// Request decoding: cutting the query string and the URL-encoded form body
// into name/value texts. All text is bytes; nothing changes character set.
#pragma once

#include <cstdio>

#include "text/decimal.h"

// Pair table size; pairs beyond it are read and dropped.
constexpr int kPairCapacity = 100;

// One decoded name/value pair. Both texts are allocated separately (with
// malloc) and belong to the table's owner.
struct FormPair {
    char* name;
    char* value;
};

// Cuts the text before the first `stop` byte off the front of `line` and
// returns it as a new text; `line` keeps what follows the stop byte, or
// becomes empty when there is none.
char* cutToken(char* line, char stop);

// Reads bytes from `in` up to and including the next `stop` byte, until
// `*budget` reaches exactly 0, or to the end of input, and returns them
// (without the stop byte) as a new text. Lowers a positive `*budget` per
// byte read; a budget of 0 or below is no limit and is left as it is.
char* readToken(std::FILE* in, char stop, int* budget);

// The byte that the two characters at `digits` stand for, by the board's
// own hexadecimal arithmetic (no byte is rejected).
int hexPairValue(const char* digits);

// Replaces each "%" and the two bytes after it by the byte they stand for;
// a "%" with fewer than two bytes after it is kept as it stands.
void decodePercent(char* text);

// Replaces every "+" by a blank and returns `text`.
char* plusToSpace(char* text);

// Decodes the form body on `in` into `pairs` from entry 0 on, with the byte
// budget `contentLength`; the texts of an entry it overwrites are freed.
// Returns the number of pairs stored (at most the table's capacity); later
// pairs are read and dropped.
int decodeFormBody(std::FILE* in, int contentLength, FormPair* pairs);
