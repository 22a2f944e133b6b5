#include "page/form_decoding.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kTokenStep = 102400;

void* allocate(std::size_t size) {
    void* memory = std::malloc(size);
    if (!memory) throw std::bad_alloc();
    return memory;
}

}  // namespace

char* cutToken(char* line, char stop) {
    std::size_t length = std::strlen(line);
    char* token = static_cast<char*>(allocate(length + 1));
    std::size_t cut = 0;
    while (line[cut] != '\0' && line[cut] != stop) ++cut;
    std::memcpy(token, line, cut);
    token[cut] = '\0';
    if (line[cut] == stop && stop != '\0') {
        std::memmove(line, line + cut + 1, length - cut);
    } else {
        line[0] = '\0';
    }
    return token;
}

char* readToken(std::FILE* in, char stop, int* budget) {
    std::size_t capacity = kTokenStep;
    char* token = static_cast<char*>(allocate(capacity + 1));
    std::size_t stored = 0;
    bool sawStop = false;
    for (;;) {
        int c = std::getc(in);
        if (c == EOF) break;
        if (stored == capacity) {
            capacity += kTokenStep;
            char* grown = static_cast<char*>(std::realloc(token, capacity + 1));
            if (!grown) {
                std::free(token);
                throw std::bad_alloc();
            }
            token = grown;
        }
        token[stored++] = static_cast<char>(c);
        // A budget at or below 0 never ends the token; it stays where it is
        // rather than count down past INT_MIN.
        if (*budget > 0) --*budget;
        if (c == static_cast<unsigned char>(stop)) {
            sawStop = true;
            break;
        }
        if (*budget == 0) break;
    }
    if (sawStop) --stored;
    token[stored] = '\0';
    // Hand back only what the token needs: a body of thousands of short
    // pairs must not keep 100 kB for each.
    if (stored + 1 < capacity) {
        char* fitted = static_cast<char*>(std::realloc(token, stored + 1));
        if (fitted) token = fitted;
    }
    return token;
}

int hexPairValue(const char* digits) {
    int value = 0;
    for (int i = 0; i < 2; ++i) {
        int c = static_cast<signed char>(digits[i]);
        int v = c < 'A' ? c - '0' : (c & 0xDF) - 55;
        value = value * 16 + v;
    }
    return value & 0xFF;
}

void decodePercent(char* text) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (text[i] != '\0') {
        if (text[i] == '%' && text[i + 1] != '\0' && text[i + 2] != '\0') {
            text[j] = static_cast<char>(hexPairValue(text + i + 1));
            i += 3;
        } else {
            text[j] = text[i];
            i += 1;
        }
        j += 1;
    }
    text[j] = '\0';
}

char* plusToSpace(char* text) {
    for (char* p = text; *p; ++p) {
        if (*p == '+') *p = ' ';
    }
    return text;
}

int decodeFormBody(std::FILE* in, int contentLength, FormPair* pairs) {
    int remaining = contentLength;
    int stored = 0;
    while (remaining != 0 && !std::feof(in)) {
        char* token = readToken(in, '&', &remaining);
        plusToSpace(token);
        decodePercent(token);
        char* name;
        try {
            name = cutToken(token, '=');
        } catch (const std::bad_alloc&) {
            std::free(token);
            throw;
        }
        if (stored < kPairCapacity) {
            // An entry the query's pairs filled before is given back.
            std::free(pairs[stored].name);
            std::free(pairs[stored].value);
            pairs[stored].value = token;
            pairs[stored].name = name;
            ++stored;
        } else {
            std::free(token);
            std::free(name);
        }
    }
    return stored;
}
