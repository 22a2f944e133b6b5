// Cleaning up a board: its recent messages listed for the owner, and the
// messages the owner picks (by number, by address, by word) erased in one
// committed change of the store.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct Selection {
    std::vector<std::pair<int, int>> ranges;  // message numbers, first to last
    std::vector<std::string> hosts;           // RemoteHost exactly, letters in either case
    std::vector<std::string> words;           // board bytes, in any text of a message or its body
    bool empty() const { return ranges.empty() && hosts.empty() && words.empty(); }
};

// "N" or "N-M" (1 <= N <= M) as a range of message numbers.
bool parseRange(const std::string& text, std::pair<int, int>* range);

// True when `word` stands in `text` as its reader sees it (see
// readerText), from the start of a character on, ASCII letters in either
// case; both are code page 949 bytes.
bool holdsWord(const std::string& text, const std::string& word);

struct ShowOptions {
    bool json = false;          // JSON Lines instead of text lines
    std::FILE* out = stdout;    // the messages and the summary
    std::FILE* err = stderr;    // why a board could not be read or changed
    std::FILE* progress = nullptr;  // where a large board reports its progress
    std::string eventLog;       // the owner's log, where an erase is written; empty: none
};

// The newest `limit` messages of the board, newest first. 0 done, 1 when
// the board cannot be read.
int listBoard(int board, const std::string& dir, int limit, const ShowOptions& options);

// Erases the selected messages of the board as one committed change, or
// with `dryRun` only shows them. 0 done (nothing selected included); 1
// refused or failed, the board as it was.
int eraseMessages(int board, const std::string& dir, const Selection& selection, bool dryRun,
                  const ShowOptions& options);
