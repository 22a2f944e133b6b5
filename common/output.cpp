#include "output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

char* buffer = nullptr;
std::size_t used = 0;
std::size_t capacity = 0;
bool flushAtExit = false;

// Makes room for `extra` more bytes; on failure whatever was collected is
// written first so the visitor still gets the start of the page.
void reserve(std::size_t extra) {
    if (!flushAtExit) {
        std::atexit(flushOutput);
        flushAtExit = true;
    }
    if (used + extra + 1 <= capacity) return;
    std::size_t wanted = capacity ? capacity : 16384;
    while (wanted < used + extra + 1) wanted *= 2;
    char* grown = static_cast<char*>(std::realloc(buffer, wanted));
    if (!grown) failOutOfMemory();
    buffer = grown;
    capacity = wanted;
}

void writeAll(const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(STDOUT_FILENO, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // the browser went away; nothing left to tell it
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void emit(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list probe;
    va_copy(probe, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, probe);
    va_end(probe);
    if (needed < 0) {
        va_end(args);
        return;
    }
    std::size_t length = static_cast<std::size_t>(needed);
    reserve(length);
    if (length < sizeof small) {
        std::memcpy(buffer + used, small, length);
    } else {
        std::vsnprintf(buffer + used, capacity - used, format, args);
    }
    used += length;
    va_end(args);
}

void emitBytes(const char* data, std::size_t length) {
    if (length == 0) return;
    reserve(length);
    std::memcpy(buffer + used, data, length);
    used += length;
}

void emitContentType() { emit("Content-type: text/html%c%c", NL, NL); }

void flushOutput() {
    if (used == 0) return;
    writeAll(buffer, used);
    used = 0;
}

const char* pendingOutput(std::size_t* length) {
    *length = used;
    return buffer ? buffer : "";
}

void discardOutput() { used = 0; }

void endRun(int status) {
    flushOutput();
    std::exit(status);
}

void failOutOfMemory() {
    // No allocation here: the message goes straight out after what was collected.
    flushOutput();
    static const char message[] = "Out of memory.\n";
    writeAll(message, sizeof message - 1);
    std::_Exit(1);
}
