#include "tool_config.h"

#include <cstdio>
#include <cstring>

#include "page/cgi_page.h"
#include "site/config_lines.h"
#include "page/form_decoding.h"

bool readSiteConfig(const std::string& path, SiteConfig* config, std::string* error) {
    std::FILE* in = std::fopen(path.c_str(), "r");
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    ConfigLineReader reader;
    char line[kTextSize] = "";
    char word[kTextSize] = "";
    std::string bbsDir;
    bool fits = true;
    int atEnd = reader.readLine(line, sizeof line, in);
    while (!atEnd) {
        if (line[0] != '\0' && line[0] != '#') {
            reader.takeWord(word, sizeof word, line);
            int number = decimalValue(word);
            char canonical[16];
            std::snprintf(canonical, sizeof canonical, "%d", number);
            if (std::strcmp(word, "BBS_DIR") == 0) {
                bbsDir = line;
                if (bbsDir.size() >= kTextSize) bbsDir.resize(kTextSize - 1);
                config->bbsDir = bbsDir;
            } else if (std::strcmp(word, "BAN_LIST") == 0) {
                config->banList = line;
            } else if (std::strcmp(word, canonical) == 0) {
                // The programs name a board only by the canonical decimal text.
                std::string dir = bbsDir + canonical + "/";
                if (dir.size() >= kTextSize) {
                    *error = "the directory of board " + std::string(canonical) + " is too long";
                    fits = false;
                }
                config->boards[number] = dir;
            }
        }
        atEnd = reader.readLine(line, sizeof line, in);
    }
    bool whole = !std::ferror(in);
    std::fclose(in);
    if (!whole) *error = "cannot read " + path;
    return whole && fits;
}
