// What a board directory holds, for comparing boards before and after a
// request, and the rules every board must keep between requests.
#pragma once

#include <map>
#include <string>

// Every entry of a board directory but its lock file, by name: a regular
// file's bytes, or a marker for anything else. Date and time fields of
// records stored through the programs are blanked, so that a change made a
// minute later still compares equal.
using BoardSnapshot = std::map<std::string, std::string>;
BoardSnapshot snapshotBoard(const std::string& boardDir);

// Describes the first difference of two snapshots, or "" when equal.
std::string snapshotDifference(const BoardSnapshot& a, const BoardSnapshot& b);

// "" when the board keeps every rule: the index exactly its header and
// count records long, each record numbered by its position and naming a
// body file that exists, every body file named by a record, and no scratch
// file or redo record lying about. Otherwise what is wrong.
std::string boardProblems(const std::string& boardDir);
