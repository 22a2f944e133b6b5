#include "event_table.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "events/event_log.h"
#include "json_text.h"

bool parseSince(const std::string& text, std::time_t now, std::time_t* since) {
    char unit = 0;
    long count = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%ld%c%c", &count, &unit, &rest) == 2 && count >= 0 &&
        (unit == 'm' || unit == 'h' || unit == 'd')) {
        *since = now - count * (unit == 'm' ? 60 : unit == 'h' ? 3600 : 86400);
        return true;
    }
    std::tm parts = {};
    int fields = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d%c", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                             &parts.tm_hour, &parts.tm_min, &rest);
    if ((fields != 3 || text.size() != 10) && fields != 5) return false;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_isdst = -1;
    *since = std::mktime(&parts);
    return *since != -1;
}

int showEvents(const std::string& path, const EventFilter& filter, std::FILE* out, std::FILE* err) {
    if (path.empty()) {
        std::fprintf(err, "gesipan: the configuration has no EVENT_LOG line, so no events are kept\n");
        return 1;
    }
    std::ifstream in(path);
    if (!in) {
        std::fprintf(err, "gesipan: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    if (!filter.json) std::fprintf(out, "%-25s %5s %7s %-39s %-15s %s\n", "time", "board", "message", "address", "event", "detail");
    int unreadable = 0;
    std::string line;
    while (std::getline(in, line)) {
        Event event;
        if (!parseEventLine(line, &event)) {
            ++unreadable;
            continue;
        }
        if ((!filter.anyBoard && event.board != filter.board) || event.time < filter.since) continue;
        if (filter.json) {
            std::fputs(eventLine(event).c_str(), out);
            continue;
        }
        std::fprintf(out, "%-25s %5d %7s %-39s %-15s %s\n", eventTime(event.time).c_str(), event.board,
                     event.message ? std::to_string(event.message).c_str() : "-", terminalText(event.address).c_str(),
                     terminalText(event.kind).c_str(), terminalText(event.detail).c_str());
    }
    if (unreadable > 0) std::fprintf(err, "gesipan: %d lines of %s are no events; left out\n", unreadable, path.c_str());
    return std::fflush(out) == 0 ? 0 : 1;
}
