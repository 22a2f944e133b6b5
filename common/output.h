// The one output layer: every byte a program sends to the browser goes
// through here. Output is collected in memory and written with a single
// write when the run ends, so a page costs one system call.
#pragma once

#include <cstddef>

// Newline for the "%c" of the page formats.
constexpr char NL = '\n';

// Appends a printf-style line (or part of one) to the response.
void emit(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends raw bytes unchanged (body files, filtered texts).
void emitBytes(const char* data, std::size_t length);

// "Content-type: text/html" and the empty line that ends the header.
void emitContentType();

// Writes what has been collected to standard output. Runs by itself at exit.
void flushOutput();

// Bytes collected and not yet written; tests read the response from here.
const char* pendingOutput(std::size_t* length);
void discardOutput();

// Ends the run with the given status after the response has gone out.
[[noreturn]] void endRun(int status);

// A bare message line and status 1, for memory that cannot be had.
[[noreturn]] void failOutOfMemory();
