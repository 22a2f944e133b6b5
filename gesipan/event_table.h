// `gesipan events`: the owner's log shown as a table, or as the JSON Lines
// it holds.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

struct EventFilter {
    int board = 0;
    bool anyBoard = true;
    std::time_t since = 0;  // 0: from the start
    bool json = false;
};

// "2026-12-08", "2026-12-08T15:04" (local time) or a span back from `now`:
// "90m", "24h", "7d". False for anything else.
bool parseSince(const std::string& text, std::time_t now, std::time_t* since);

// Shows the events of the log at `path` that pass `filter`. 0 done, 1 when
// the log cannot be read; a line the log did not write is counted and
// left out.
int showEvents(const std::string& path, const EventFilter& filter, std::FILE* out, std::FILE* err);
