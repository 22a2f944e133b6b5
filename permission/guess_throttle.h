// Wrong site passwords counted per client address, so that guessing the
// password through the edit and erase forms is slow. An address that sends
// kGuessLimit wrong passwords within kGuessWindow seconds is shut out of
// editing and erasing for kGuessShutOut seconds, right password or not.
//
// The count lives in one small text file, "gesipan.throttle", in the
// directory "throttle/" beside the boards (in BBS_DIR), kept under an fcntl
// lock on "gesipan.throttle.lock" and replaced whole by rename. It holds at
// most kGuessEntries addresses; the one closest to expiry makes room. The
// programs never make that directory (the site command does); without it,
// nothing is counted and only the password decides.
#pragma once

#include "store/state_file.h"

#include <ctime>
#include <string>
#include <vector>

constexpr int kGuessLimit = 10;
constexpr long kGuessWindow = 10 * 60;
constexpr long kGuessShutOut = 15 * 60;
constexpr int kGuessEntries = 256;
constexpr char kThrottleName[] = "gesipan.throttle";
constexpr char kThrottleLockName[] = "gesipan.throttle.lock";
constexpr char kThrottleScratchName[] = "gesipan.throttle.new";

struct GuessEntry {
    std::string address;
    int failures = 0;
    long windowStart = 0;
    long shutUntil = 0;
};

class GuessThrottle {
public:
    // `stateDir` is BBS_DIR as configured (the empty text: the working
    // directory); `address` the visitor's, as clientAddress keeps it.
    GuessThrottle(const char* stateDir, const char* address, std::time_t now);

    // True while the address is shut out.
    bool shutOut();

    // Counts a wrong password, or forgets the address's count after a
    // right one.
    void record(bool right);

    // The entries of a state file's text that are still in force at `now`.
    static std::vector<GuessEntry> parse(const std::string& text, std::time_t now);
    static std::string format(const std::vector<GuessEntry>& entries);

private:
    int lock(bool exclusive);
    std::vector<GuessEntry> load();
    bool store(const std::vector<GuessEntry>& entries);

    char path_[512];
    char lockPath_[512];
    char scratchPath_[512];
    bool usable_;
    std::string address_;
    std::time_t now_;
};

// The visitor's address as the throttle keys it: cut to what an address
// may hold, "unknown" when there is none.
std::string clientAddress(const char* address);
