#include "permission/guess_throttle.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/board_lock.h"
#include "store/durable_file.h"

namespace {

const char kFirstLine[] = "gesipan throttle 1\n";
constexpr std::size_t kMaxAddress = 63;
constexpr std::size_t kMaxStateBytes = 64 * 1024;

bool isAddressByte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == ':' ||
           c == '%' || c == '-' || c == '_';
}

bool inForce(const GuessEntry& entry, std::time_t now) {
    return now < entry.shutUntil || now - entry.windowStart < kGuessWindow;
}

// When the entry stops mattering.
long expiry(const GuessEntry& entry) {
    long windowEnd = entry.windowStart + kGuessWindow;
    return entry.shutUntil > windowEnd ? entry.shutUntil : windowEnd;
}

class LockFile {
public:
    ~LockFile() {
        if (fd >= 0) ::close(fd);  // closing drops the fcntl lock
    }
    int fd = -1;
};

}  // namespace

std::string clientAddress(const char* address) {
    std::string kept;
    for (const char* p = address ? address : ""; *p && kept.size() < kMaxAddress; ++p) {
        if (!isAddressByte(static_cast<unsigned char>(*p))) break;
        kept += *p;
    }
    return kept.empty() ? "unknown" : kept;
}

GuessThrottle::GuessThrottle(const char* stateDir, const char* address, std::time_t now)
    : address_(address), now_(now) {
    // Its own directory, made for the web user by the site command: the
    // programs create files in no other directory but the boards'.
    char dir[512];
    usable_ = stateDir[0] != '\0' && joinPath(dir, sizeof dir, stateDir, kThrottleDirName) &&
              joinPath(path_, sizeof path_, dir, kThrottleName) &&
              joinPath(lockPath_, sizeof lockPath_, dir, kThrottleLockName) &&
              joinPath(scratchPath_, sizeof scratchPath_, dir, kThrottleScratchName);
}

std::vector<GuessEntry> GuessThrottle::parse(const std::string& text, std::time_t now) {
    std::vector<GuessEntry> entries;
    if (text.compare(0, sizeof kFirstLine - 1, kFirstLine) != 0) return entries;
    std::size_t at = sizeof kFirstLine - 1;
    while (at < text.size() && entries.size() < static_cast<std::size_t>(kGuessEntries)) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // a last line cut short
        std::string line = text.substr(at, end - at);
        at = end + 1;
        char address[kMaxAddress + 1];
        long failures;
        long windowStart;
        long shutUntil;
        char rest;
        if (std::sscanf(line.c_str(), "%63s %ld %ld %ld %c", address, &failures, &windowStart, &shutUntil, &rest) != 4) {
            continue;
        }
        GuessEntry entry;
        entry.address = address;
        entry.failures = failures < 0 ? 0 : (failures > kGuessLimit ? kGuessLimit : static_cast<int>(failures));
        entry.windowStart = windowStart;
        // A clock set back must not shut an address out for longer than intended.
        entry.shutUntil = shutUntil > now + kGuessShutOut ? now + kGuessShutOut : shutUntil;
        if (entry.windowStart > now) entry.windowStart = now;
        if (inForce(entry, now)) entries.push_back(entry);
    }
    return entries;
}

std::string GuessThrottle::format(const std::vector<GuessEntry>& entries) {
    std::string text = kFirstLine;
    for (const GuessEntry& entry : entries) {
        char line[160];
        std::snprintf(line, sizeof line, "%s %d %ld %ld\n", entry.address.c_str(), entry.failures, entry.windowStart,
                      entry.shutUntil);
        text += line;
    }
    return text;
}

int GuessThrottle::lock(bool exclusive) {
    if (!usable_) return -1;
    return openLockedFile(lockPath_, exclusive ? LockMode::Exclusive : LockMode::Shared, 0600);
}

std::vector<GuessEntry> GuessThrottle::load() {
    std::string text;
    // Longer than any count of ours: damaged, counted afresh.
    if (readWholeFile(path_, &text, kMaxStateBytes) <= 0) return {};
    return parse(text, now_);
}

bool GuessThrottle::store(const std::vector<GuessEntry>& entries) {
    return replaceWithoutSync(scratchPath_, path_, format(entries));
}

bool GuessThrottle::shutOut() {
    LockFile held;
    held.fd = lock(false);
    if (held.fd < 0) return false;
    for (const GuessEntry& entry : load()) {
        if (entry.address == address_) return now_ < entry.shutUntil;
    }
    return false;
}

void GuessThrottle::record(bool right) {
    LockFile held;
    held.fd = lock(true);
    if (held.fd < 0) return;
    std::vector<GuessEntry> entries = load();
    std::size_t found = entries.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].address == address_ && found == entries.size()) found = i;
    }
    if (right) {
        if (found == entries.size()) return;
        entries.erase(entries.begin() + static_cast<long>(found));
        store(entries);
        return;
    }
    if (found == entries.size()) {
        if (entries.size() >= static_cast<std::size_t>(kGuessEntries)) {
            std::size_t soonest = 0;
            for (std::size_t i = 1; i < entries.size(); ++i) {
                if (expiry(entries[i]) < expiry(entries[soonest])) soonest = i;
            }
            entries.erase(entries.begin() + static_cast<long>(soonest));
            found = entries.size();
        }
        GuessEntry fresh;
        fresh.address = address_;
        fresh.windowStart = now_;
        entries.push_back(fresh);
    }
    GuessEntry& entry = entries[found];
    if (now_ - entry.windowStart >= kGuessWindow) {
        entry.failures = 0;
        entry.windowStart = now_;
    }
    if (++entry.failures >= kGuessLimit) {
        entry.shutUntil = now_ + kGuessShutOut;
        entry.failures = 0;
        entry.windowStart = now_;
    }
    store(entries);
}
