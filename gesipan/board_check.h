// Checking one board and mending what check finds, through the store.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class BoardStore;

struct CheckOptions {
    bool moveOrphans = false;  // repair: move body files no record names aside
    std::FILE* progress = nullptr;  // where a large board reports its progress
};

// Reports every problem of board `board` (directory `dir`) on `out`, one
// line each, under the board's shared lock; changes nothing. Returns the
// number of problems, or -1 when the board could not be read.
int checkBoard(int board, const std::string& dir, std::FILE* out, const CheckOptions& options);

// Mends the board under its exclusive lock and reports what it found, what
// it did and what is left. Returns the number of problems left, or -1.
int repairBoard(int board, const std::string& dir, std::FILE* out, const CheckOptions& options);

// The name a body file that no record names is moved aside to.
std::string asideName(const std::string& name);
