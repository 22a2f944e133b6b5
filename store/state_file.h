// The spam defences' small files ("form.tokens", "posting.count", ...),
// kept as the guessing limit keeps its own: in "throttle/" beside the
// boards, under an fcntl lock on NAME.lock, replaced whole by renaming
// NAME.new over NAME without waiting for the disk, never opened
// through a link. The programs never make that directory; without it (or
// when any step fails) a defence counts as off for the request and
// posting goes on.
#pragma once

#include <string>
#include <vector>

// The directory under BBS_DIR of the defences' and the guessing limit's records.
constexpr char kThrottleDirName[] = "throttle/";

// Where the defences keep their records, and where what they notice goes
// besides standard error.
struct DefenceRecords {
    std::string stateDir;  // BBS_DIR as configured
    std::string eventLog;  // the owner's event log; empty: none
};

class StateFile {
public:
    // `name` is the file's name in the records' "throttle/".
    StateFile(const DefenceRecords& records, const char* name);
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    // Takes the exclusive lock; false when it cannot be had.
    bool lock();

    // The file's bytes into `text`: 1 read, 0 no file, -1 error. A file
    // over 1 MiB is read no further, said so on standard error, emptied,
    // and given as an empty record: 1 with `text` empty.
    int read(std::string* text);

    // Replaces the file by `text`: written beside and renamed over it.
    bool replace(const std::string& text);

    // lock() and read() together; says so in the log and returns false
    // when either fails (the defence is then off for this request).
    bool lockAndRead(std::string* text);

    const std::string& path() const { return path_; }

    // Says that this file kept its defence off: reportDefenceOff.
    void report(const char* what) const;

private:
    std::string dir_;
    std::string path_;
    std::string lockPath_;
    std::string scratchPath_;
    std::string eventLog_;
    bool usable_ = false;
    int lockFd_ = -1;
};

// One line on standard error (the web server's error log), and one event
// of the owner's log when there is one, saying that a defence's file was
// damaged or could not be kept, and so the defence was off.
void reportDefenceOff(const char* what, const std::string& path, const std::string& eventLog);

// The lines of a record after its first line `head`. `*damaged` when the
// head differs or the last line is unended; a wrong head gives no lines.
std::vector<std::string> recordLines(const std::string& record, const char* head, bool* damaged);
