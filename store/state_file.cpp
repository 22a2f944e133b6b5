#include "store/state_file.h"

#include <ctime>

#include "events/event_log.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/board_lock.h"
#include "store/durable_file.h"

namespace {

constexpr std::size_t kMaxStateBytes = 1024 * 1024;

}  // namespace

StateFile::StateFile(const DefenceRecords& records, const char* name) : eventLog_(records.eventLog) {
    if (records.stateDir.empty()) return;
    dir_ = records.stateDir + kThrottleDirName;
    path_ = dir_ + name;
    lockPath_ = path_ + ".lock";
    scratchPath_ = path_ + ".new";
    usable_ = path_.size() < 4096;
}

StateFile::~StateFile() {
    if (lockFd_ >= 0) ::close(lockFd_);  // closing drops the fcntl lock
}

bool StateFile::lock() {
    if (!usable_) return false;
    if (lockFd_ >= 0) return true;
    int fd = openLockedFile(lockPath_.c_str(), LockMode::Exclusive, 0600);
    if (fd < 0) return false;
    lockFd_ = fd;
    return true;
}

int StateFile::read(std::string* text) {
    text->clear();
    if (lockFd_ < 0) return -1;
    int result = readWholeFile(path_.c_str(), text, kMaxStateBytes);
    if (result < 0 && errno == EFBIG) {
        // No record of ours grows this long: damaged, and emptied at once
        // (the lock is ours), so that a second read in this request finds a
        // fresh record rather than saying so again; the change writes it anew.
        std::string().swap(*text);
        report("longer than any such record, read as damaged");
        replace(std::string());
        return 1;
    }
    return result;
}

bool StateFile::replace(const std::string& text) {
    if (lockFd_ < 0) return false;
    // Not synced, as the guessing limit's count: a power cut may forget a
    // used token or a counted post, and a file it leaves torn reads as
    // damaged, which fails safe. Two syncs per record would double a post.
    return replaceWithoutSync(scratchPath_.c_str(), path_.c_str(), text);
}

bool StateFile::lockAndRead(std::string* text) {
    if (lock() && read(text) >= 0) return true;
    report("cannot be read");
    return false;
}

std::vector<std::string> recordLines(const std::string& record, const char* head, bool* damaged) {
    std::vector<std::string> lines;
    if (record.empty()) return lines;
    std::istringstream in(record);
    std::string line;
    bool headed = std::getline(in, line) && line == head;
    if (!headed || record.back() != '\n') *damaged = true;
    if (!headed) return lines;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void StateFile::report(const char* what) const { reportDefenceOff(what, path_, eventLog_); }

void reportDefenceOff(const char* what, const std::string& path, const std::string& eventLog) {
    std::fprintf(stderr, "gesipan: %s: %s; that defence was off for this post\n", path.c_str(), what);
    logEvent(eventLog, Event{std::time(nullptr), "defence_off", 0, 0, "", path + ": " + what});
}
