#include "spam/posting_limit.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "store/state_file.h"

namespace {

const char kRecordHead[] = "gesipan posts 1";

struct Poster {
    std::string address;
    std::vector<long> times;
};

// Entries of the record still inside the window; `*damaged` when lines
// had to be skipped.
std::vector<Poster> readPosters(const std::string& record, std::time_t now, long window, bool* damaged) {
    std::vector<Poster> posters;
    for (const std::string& line : recordLines(record, kRecordHead, damaged)) {
        if (posters.size() >= static_cast<std::size_t>(kPostingAddresses)) break;
        std::istringstream words(line);
        Poster poster;
        long time;
        if (!(words >> poster.address) || poster.address.size() > 63) {
            *damaged = true;
            continue;
        }
        while (words >> time) {
            // A clock set back must not hold an address for longer than the window.
            if (time > now) time = now;
            if (now - time < window) poster.times.push_back(time);
        }
        if (!words.eof()) *damaged = true;
        if (!poster.times.empty()) posters.push_back(poster);
    }
    return posters;
}

std::string formatPosters(const std::vector<Poster>& posters) {
    std::string text = std::string(kRecordHead) + "\n";
    for (const Poster& poster : posters) {
        text += poster.address;
        for (long time : poster.times) text += " " + std::to_string(time);
        text += "\n";
    }
    return text;
}

// The address as one word of the record.
std::string recordKey(const std::string& address) {
    std::string key;
    for (char c : address.substr(0, 63)) {
        bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
                     c == ':' || c == '%' || c == '-' || c == '_';
        key += plain ? c : '_';
    }
    return key.empty() ? "unknown" : key;
}

}  // namespace

std::string withPost(const std::string& record, const std::string& visitor, std::time_t now, int limit, long window,
                     bool* allowed, bool* damaged) {
    *damaged = false;
    const std::string address = recordKey(visitor);
    std::vector<Poster> posters = readPosters(record, now, window, damaged);
    std::size_t found = posters.size();
    for (std::size_t i = 0; i < posters.size(); ++i) {
        if (posters[i].address == address) found = i;
    }
    if (found < posters.size() && posters[found].times.size() >= static_cast<std::size_t>(limit)) {
        *allowed = false;
        return formatPosters(posters);
    }
    *allowed = true;
    if (found == posters.size()) {
        if (posters.size() >= static_cast<std::size_t>(kPostingAddresses)) {
            std::size_t stalest = 0;
            for (std::size_t i = 1; i < posters.size(); ++i) {
                if (posters[i].times.back() < posters[stalest].times.back()) stalest = i;
            }
            posters.erase(posters.begin() + static_cast<long>(stalest));
        }
        posters.push_back(Poster{address, {}});
        found = posters.size() - 1;
    }
    posters[found].times.push_back(now);
    return formatPosters(posters);
}

bool allowPost(const DefenceRecords& records, const std::string& address, std::time_t now, int limit, long window) {
    StateFile file(records, kPostingCountName);
    std::string record;
    if (!file.lockAndRead(&record)) return true;
    bool allowed = true;
    bool damaged = false;
    std::string text = withPost(record, address, now, limit, window, &allowed, &damaged);
    if (damaged) file.report("damaged, read as far as it goes");
    if (allowed && !file.replace(text)) file.report("cannot be written");
    return allowed;
}
