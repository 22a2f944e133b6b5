// Reading GuestBook.conf: lines, blanks and words.
#pragma once

#include <cstddef>
#include <cstdio>

// Line and word helpers of the configuration reader. Holds no state.
class ConfigLineReader {
public:
    // Reads past spaces and tabs; returns the first other byte, or EOF.
    int skipBlanks(std::FILE* in);

    // Reads one line into `line` (at most size - 1 bytes): leading blanks
    // dropped, each inner run of blanks kept as its first one, a carriage
    // return before the newline and one trailing space removed. A line too
    // long for the buffer is cut; its rest is read as the next line.
    // Returns 1 when the end of the file was met during this line, else 0.
    int readLine(char* line, int size, std::FILE* in);

    // Moves the first word of `line` into `word` (size bytes) and removes it
    // and the white space after it from `line`. A backslash is dropped and
    // makes the white-space byte after it part of the word. Returns the
    // length of the rest of the line.
    int takeWord(char* word, std::size_t size, char* line);
};
