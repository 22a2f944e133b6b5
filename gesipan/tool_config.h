// The part of GuestBook.conf the tool needs: which boards there are and
// where their directories lie, read as the programs read it.
#pragma once

#include <map>
#include <string>

struct SiteConfig {
    // Board number -> its directory ("BBS_DIR" as it stood at the board's
    // line, the number and "/"), for every board line the programs match.
    std::map<int, std::string> boards;
    // The last BBS_DIR: where the guessing record lies.
    std::string bbsDir;
    // The BAN_LIST line's file, as written (relative to the configuration's directory).
    std::string banList;
};

// Reads the configuration at `path`; false (and `error` says why) when it
// cannot be read or a board's directory would not fit the programs' field.
bool readSiteConfig(const std::string& path, SiteConfig* config, std::string* error);
