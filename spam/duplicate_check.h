// The same body posted again on a board within a window is refused. The
// bodies of recent posts are remembered by their SHA-256 cut to 128 bits
// (after white space is evened out) in "throttle/recent.bodies" beside the boards (see
// state_file.h), at most kRecentBodies of them, the oldest making room.
// Both steps run under the board's lock, so two identical posts at once
// cannot both pass; a body is remembered only once its post is stored.
#pragma once

#include "store/state_file.h"

#include <ctime>
#include <string>
#include <vector>

constexpr int kRecentBodies = 4096;
constexpr char kRecentBodiesName[] = "recent.bodies";

// The fingerprint of a body: runs of white space count as one blank, and
// white space at either end not at all.
std::string bodyFingerprint(const char* body);

// True when `fingerprint` was posted to `board` within `window` seconds
// before `now`. False when the record cannot be read.
bool isRecentBody(const DefenceRecords& records, int board, const std::string& fingerprint, std::time_t now, long window);

// Remembers a stored post's body.
void rememberBody(const DefenceRecords& records, int board, const std::string& fingerprint, std::time_t now, long window);

// The record's lines still inside the window: "BOARD TIME FINGERPRINT".
struct RecentBody {
    int board;
    long time;
    std::string fingerprint;
};
std::vector<RecentBody> readRecentBodies(const std::string& record, std::time_t now, long window, bool* damaged);
std::string formatRecentBodies(const std::vector<RecentBody>& bodies);
