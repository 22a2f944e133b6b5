#include "events/event_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void appendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            // Board bytes are EUC-KR, not UTF-8: every byte outside ASCII
            // is written as its own escape, so the line stays valid JSON
            // and the bytes come back as they were.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// The string literal at `json[*at]`; moves `*at` past it.
bool readJsonString(const std::string& json, std::size_t* at, std::string* text) {
    std::size_t i = *at;
    if (i >= json.size() || json[i] != '"') return false;
    text->clear();
    for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] != '\\') {
            *text += json[i];
            continue;
        }
        if (++i >= json.size()) return false;
        if (json[i] == 'u') {
            if (i + 4 >= json.size()) return false;
            unsigned long value = std::strtoul(json.substr(i + 1, 4).c_str(), nullptr, 16);
            if (value > 0xff) return false;
            *text += static_cast<char>(value);
            i += 4;
        } else {
            *text += json[i];
        }
    }
    if (i >= json.size()) return false;
    *at = i + 1;
    return true;
}

}  // namespace

std::string eventTime(std::time_t time) {
    std::tm local = {};
    localtime_r(&time, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // ISO 8601 writes the offset with a colon: +0900 -> +09:00.
    std::string stamp = text;
    if (stamp.size() >= 5) stamp.insert(stamp.size() - 2, ":");
    return stamp;
}

std::string eventLine(const Event& event) {
    std::string line = "{\"time\":";
    appendJsonString(line, eventTime(event.time));
    line += ",\"event\":";
    appendJsonString(line, event.kind);
    line += ",\"board\":" + std::to_string(event.board);
    if (event.message != 0) line += ",\"message\":" + std::to_string(event.message);
    line += ",\"address\":";
    appendJsonString(line, event.address);
    if (!event.detail.empty()) {
        line += ",\"detail\":";
        appendJsonString(line, event.detail);
    }
    line += "}\n";
    return line;
}

bool parseEventLine(const std::string& line, Event* event) {
    *event = Event();
    std::size_t at = 0;
    if (line.empty() || line[at++] != '{') return false;
    std::string stamp;
    while (at < line.size() && line[at] != '}') {
        if (line[at] == ',') ++at;
        std::string key;
        if (!readJsonString(line, &at, &key) || at >= line.size() || line[at++] != ':') return false;
        if (at < line.size() && line[at] == '"') {
            std::string value;
            if (!readJsonString(line, &at, &value)) return false;
            if (key == "time") stamp = value;
            else if (key == "event") event->kind = value;
            else if (key == "address") event->address = value;
            else if (key == "detail") event->detail = value;
        } else {
            char* end = nullptr;
            long value = std::strtol(line.c_str() + at, &end, 10);
            if (end == line.c_str() + at) return false;
            at = static_cast<std::size_t>(end - line.c_str());
            if (key == "board") event->board = static_cast<int>(value);
            else if (key == "message") event->message = static_cast<int>(value);
        }
    }
    std::tm parts = {};
    int offsetHours = 0;
    int offsetMinutes = 0;
    char sign = '+';
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &sign, &offsetHours, &offsetMinutes) != 9) {
        return false;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    long offset = (offsetHours * 60L + offsetMinutes) * 60L * (sign == '-' ? -1 : 1);
    event->time = timegm(&parts) - offset;
    return !event->kind.empty();
}

bool logEvent(const std::string& path, const Event& event) {
    if (path.empty()) return true;
    const std::string line = eventLine(event);
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    ssize_t written = -1;
    if (fd >= 0) {
        do {
            written = ::write(fd, line.data(), line.size());
        } while (written < 0 && errno == EINTR);
        ::close(fd);
    }
    if (written == static_cast<ssize_t>(line.size())) return true;
    std::fprintf(stderr, "gesipan: the event log %s cannot be written (%s); lost: %s", path.c_str(),
                 fd < 0 ? std::strerror(errno) : "short write", line.c_str());
    return false;
}
