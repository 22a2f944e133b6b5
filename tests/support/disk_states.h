// The states a power cut may leave on the disk while a program runs,
// worked out from its file operations as strace recorded them. The model
// of a journaling file system (ext4, xfs):
// - names (creations, renames, links, removals) reach the disk in the
//   order the program made them; a directory's fsync puts every earlier
//   one there;
// - a file's bytes and length reach the disk on its fsync or fdatasync;
//   before that, each 4 KiB block the program changed may hold the new
//   bytes, the old ones (zeros past the old length), or be cut short at a
//   512-byte sector (a disk writes a sector whole); the new length may or
//   may not be there, apart from the bytes;
// - optionally, as ext4 does, a file renamed over another is flushed
//   first.
#pragma once

#include <map>
#include <string>
#include <vector>

// The files of one board directory, by name.
using DiskFiles = std::map<std::string, std::string>;

struct DiskState {
    DiskFiles files;
    bool acknowledged = false;  // the page's marker was out before the cut
    std::string how;            // where the cut fell, for messages
};

// The strace command line that records what crashStates() reads.
std::vector<std::string> fileTraceLauncher(const std::string& traceFile);

// Every distinct state of `boardDir` (ending in "/") that a power cut at
// any point of the traced run may leave, the run having started from
// `initial`, all on the disk. A state counts as acknowledged once the
// program's standard output holds `marker`. Relative paths in the trace
// are taken from `workDir`, the program's working directory.
std::vector<DiskState> crashStates(const std::string& trace, const std::string& boardDir, const DiskFiles& initial,
                                   const std::string& marker, const std::string& workDir = "");

// How many fsync and fdatasync calls the traced run made before its first
// write to standard output; -1 when it wrote nothing there.
int syncCallsBeforeOutput(const std::string& trace);

// How many fsync and fdatasync calls the traced run made.
int syncCalls(const std::string& trace);
