// The owner's record of what happened: one JSON line per event, appended to
// the file an EVENT_LOG line names. Each line is written whole by one write
// on a file opened for appending, so concurrent writers never interleave;
// a log that cannot be written stops nothing (one line on standard error
// says so).
#pragma once

#include <ctime>
#include <string>
#include <vector>

struct Event {
    std::time_t time = 0;
    std::string kind;     // "post", "edit", "erase", "refused", "wrong_password", ...
    int board = 0;
    int message = 0;      // 0: none
    std::string address;  // the visitor's address, or who did it ("gesipan")
    std::string detail;   // the defence that refused a post, what was damaged, ...
};

// The event as one JSON line, newline included; texts are escaped so that
// any byte of them comes back as it was.
std::string eventLine(const Event& event);

// The event a JSON line holds; false for a line this log did not write.
bool parseEventLine(const std::string& line, Event* event);

// Appends `event` to the log at `path` (nothing when `path` is empty).
// Returns false when it could not be written whole.
bool logEvent(const std::string& path, const Event& event);

// The time of an event as the log writes it: "2026-12-08T15:04:05+09:00",
// local time with its offset.
std::string eventTime(std::time_t time);
