// The compose and edit forms' token: the time the form was served and a
// random nonce, signed with the site secret together with the board
// number (HMAC-SHA256), so that only a form this site served for this board
// can post, and only once, not at once, and not after a day.
#pragma once

#include "store/state_file.h"

#include <ctime>
#include <string>

constexpr long kTokenLifetime = 24 * 60 * 60;
// Used tokens remembered; past this many, the oldest are forgotten and
// every token served before them counts as used.
constexpr int kUsedTokenCapacity = 4096;
constexpr char kUsedTokensName[] = "form.tokens";

enum class TokenVerdict { Valid, Missing, Forged, TooSoon, Expired, Used };

// The site secret in the file at `path`: its first line, at least 16
// bytes. Empty when it cannot be read or is shorter.
std::string readSiteSecret(const std::string& path);

// A token for a form of `board` served at `now`, with `nonce` (16 hex digits).
std::string makeFormToken(const std::string& secret, int board, std::time_t now, const std::string& nonce);

// 16 hex digits from the kernel's random source.
std::string freshNonce();

// The token's signature, board and age checked, nothing recorded.
TokenVerdict checkFormToken(const std::string& secret, int board, std::time_t now, int wait, const std::string& token);

// Records a valid token as used in `stateDir`'s "throttle/form.tokens";
// Used when it was used before (or is older than all that is remembered).
// When the record cannot be read or kept the token counts as unused.
TokenVerdict useFormToken(const DefenceRecords& records, std::time_t now, const std::string& token);

// The record's text with `token` added, for `useFormToken` and its tests:
// `*seen` tells whether it was used already.
std::string withUsedToken(const std::string& record, std::time_t now, const std::string& token, bool* seen,
                          bool* damaged);
