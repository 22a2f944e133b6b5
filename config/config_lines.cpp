#include "config/config_lines.h"

#include <cstring>

namespace {

bool isBlank(int c) { return c == ' ' || c == '\t'; }

// Bytes of 0x80 and above are EUC-KR text, never white space.
bool isWhite(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

int ConfigLineReader::skipBlanks(std::FILE* in) {
    int c;
    do {
        c = std::getc(in);
    } while (isBlank(c));
    return c;
}

int ConfigLineReader::readLine(char* line, int size, std::FILE* in) {
    int stored = 0;
    int c = skipBlanks(in);
    while (c != EOF && c != '\n') {
        if (stored >= size - 1) break;
        line[stored++] = static_cast<char>(c);
        c = std::getc(in);
        if (isBlank(c) && stored < size - 1) {
            line[stored++] = static_cast<char>(c);
            c = skipBlanks(in);
        }
    }
    // Files written on other systems end their lines with CR LF.
    if (c == '\n' && stored > 0 && line[stored - 1] == '\r') --stored;
    if (stored > 0 && line[stored - 1] == ' ') --stored;
    line[stored] = '\0';
    return c == EOF ? 1 : 0;
}

int ConfigLineReader::takeWord(char* word, std::size_t size, char* line) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
    while (*p && isWhite(*p)) ++p;
    std::size_t length = 0;
    bool afterBackslash = false;
    while (*p) {
        if (*p == '\\') {
            afterBackslash = true;
            ++p;
            continue;
        }
        if (isWhite(*p) && !afterBackslash) break;
        if (length + 1 < size) word[length++] = static_cast<char>(*p);
        afterBackslash = false;
        ++p;
    }
    word[length] = '\0';
    while (*p && isWhite(*p)) ++p;
    std::size_t rest = std::strlen(reinterpret_cast<const char*>(p));
    std::memmove(line, p, rest + 1);
    return static_cast<int>(rest);
}
