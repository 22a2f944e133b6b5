// A board as JSON Lines: one line for the board (its number and header
// fields), then one per message, oldest first, with every record field and
// the body file's bytes (null when the record has no body file). Texts are
// converted from EUC-KR to UTF-8 as euc_kr.h says.
#pragma once

#include <cstdio>
#include <string>

// Writes board `board` to `out` under its shared lock. 0 done; 1 when the
// board cannot be read whole (a message on `err`), or, after the whole
// export, when a body file too large for any page was left out (its body
// null, a line on `err` for each).
int exportBoard(int board, const std::string& dir, std::FILE* out, std::FILE* err);

// Re-creates board `board`, which must hold no messages, from `text` (an
// export). 0 done; 1 when refused or failed, the board as it was.
int importBoard(int board, const std::string& dir, const std::string& text, std::FILE* err);
