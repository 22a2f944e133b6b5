// The configuration reader's line and word helpers over arbitrary files.
#include <cstdint>
#include <cstdio>
#include <string>

#include "config/config_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::FILE* in = fmemopen(bytes.data(), bytes.size(), "r");
    if (!in) return 0;
    ConfigLineReader reader;
    char line[256];
    char word[256];
    for (int lines = 0; lines < 100000; ++lines) {
        int atEnd = reader.readLine(line, sizeof line, in);
        while (reader.takeWord(word, sizeof word, line) > 0) {
        }
        if (atEnd) break;
    }
    std::fclose(in);
    return 0;
}
