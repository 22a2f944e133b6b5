// New posts counted per visitor address: at most `limit` within `window`
// seconds. The count lives in "throttle/posting.count" beside the boards
// (see state_file.h): one line per address with the times of its recent
// posts, at most kPostingAddresses lines, the address whose last post is
// oldest making room.
#pragma once

#include "store/state_file.h"

#include <ctime>
#include <string>

constexpr int kPostingAddresses = 1024;
constexpr char kPostingCountName[] = "posting.count";

// Counts a post from `address` at `now` and returns true, or returns false
// (and counts nothing) when the address has posted `limit` times within
// `window` seconds. A record that cannot be read or kept lets the post go.
bool allowPost(const DefenceRecords& records, const std::string& address, std::time_t now, int limit, long window);

// The record's text after a post from `address` at `now`, for allowPost
// and its tests; `*allowed` false when it was over the limit (the text is
// then unchanged in what it counts).
std::string withPost(const std::string& record, const std::string& address, std::time_t now, int limit, long window,
                     bool* allowed, bool* damaged);
