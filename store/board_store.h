// One board's message store for one request: its lock, its index file and
// body files, and the recovery of a change that a crash, a failure or a
// power cut stopped short. Every change is all or nothing, and Done only
// once it would outlive a power cut: its steps, with the bytes they write,
// go into one redo record synced to the disk, renamed to "guestbook.redo"
// and the directory synced (the commit); then, once the request's response
// has gone out and with the lock held until then, the steps are carried
// out, their files synced, and only then the record removed. Whoever next takes
// the board's exclusive lock finds a committed record and carries it out
// again to the end, or finds only scratch files and removes them; so a
// board is always as before a change or as after it.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/board_lock.h"

// The largest body file a page reads. A post's form is at most 512 KiB and
// its body becomes the file with each CR written as "<br>", four bytes for
// one, so no post makes a file of 2 MiB (4 x 524,288 bytes, less the form's
// other fields); twice that leaves room for any edit of the older program
// and still bounds what one request holds.
constexpr std::size_t kMaxBodyBytes = 4 * 1024 * 1024;

enum class StoreResult {
    Done,
    NoBoard,     // the request names no configured board
    NoStore,     // the board has no index file
    NoMessage,   // no record of that number
    Damaged,     // the index disagrees with its own count, or a field with its file
    Full,        // no more messages fit
    LockFailed,  // the board's lock could not be had
    BodyFailed,  // the body file could not be written; the board is as before
    Failed,      // a file could not be read or written; the board is as before
};

class BoardStore {
public:
    // When a committed change is carried out: at once (the operator's
    // tool), or by the caller, once its response has gone out (a page).
    enum class AfterCommit { AtOnce, ByCaller };

    // `boardDir` ends in "/"; the empty text is no board, for which nothing
    // is ever opened, created or locked.
    explicit BoardStore(const char* boardDir, AfterCommit after = AfterCommit::AtOnce);
    ~BoardStore();
    BoardStore(const BoardStore&) = delete;
    BoardStore& operator=(const BoardStore&) = delete;

    bool isBoard() const { return boardDir_[0] != '\0'; }
    const char* indexPath() const { return indexPath_; }

    // The exclusive lock, then the recovery of an interrupted change.
    // Done, NoBoard, NoStore when the board directory does not exist,
    // LockFailed, or Failed when the recovery could not finish.
    StoreResult lockForChange();

    // The shared lock, after finishing an interrupted change if one is
    // found. False when no lock could be had; reading is still possible.
    bool lockForReading();

    void unlock();

    // Reads the 125-byte header. Done, NoStore (also for no board), Damaged
    // (cut short) or Failed.
    StoreResult ReadHeader(char* header);

    // TextCount of the header last read.
    int messageCount() const { return count_; }

    // Reads record n (1 .. messageCount()). Done, NoMessage or Failed.
    StoreResult ReadRecord(int n, char* record);

    // Records first .. last (within 1 .. messageCount()) in one read, into
    // `records`, 410 bytes each; fewer when the file ends before the last.
    // Done, NoMessage (a range outside the count) or Failed.
    StoreResult ReadRecords(int first, int last, std::string* records);

    // True when the index is exactly as long as its header says.
    bool hasStoreLength();

    // The body file that a record's FileName names. Done, NoMessage when
    // the name is not a plain file name in the board directory or no such
    // file exists, Failed on a read error or a file longer than
    // kMaxBodyBytes (then `*tooLarge`, when given, is set and no more than
    // that is read).
    StoreResult readBody(const std::string& fileName, std::string* body, bool* tooLarge = nullptr);

    // The changes; each needs lockForChange(), and for all but AppendRecord
    // on a fresh store a ReadHeader() before. Each is Done only when it is
    // committed; anything else leaves the board as it was.

    // Adds `record` as message TextCount of `header` (header and record
    // filled by the caller) with body file FileName holding `body`. A
    // `fresh` store is created with this one message.
    StoreResult AppendRecord(const char* header, const char* record, const std::string& body, bool fresh);

    // Replaces record n and its body file's contents.
    StoreResult RewriteRecord(int n, const char* record, const std::string& body);

    // Raises ReadCount of record n by one; `record` receives it. A record
    // just read by ReadRecord(n) into `record` is not read again.
    StoreResult BumpReadCount(int n, char* record);

    // Takes message n out: later records move up and are renumbered; the
    // only message takes the whole store with it. `erased` receives it.
    StoreResult RemoveRecord(int n, char* erased);

    // Takes out every message whose number is in `numbers` (any order,
    // repeats once) as one committed change: the rest move up and are
    // renumbered as RemoveRecord renumbers them, and the erased messages'
    // body files go, but one that a kept record names too; erasing every
    // message takes the whole store. `erased` receives the erased records,
    // oldest first. Done (also for no number), NoMessage (a number out of
    // range: nothing changes), Damaged or Failed.
    StoreResult RemoveRecords(const std::vector<int>& numbers, std::string* erased);

    // With AfterCommit::ByCaller: the last committed change, still to be
    // carried out, holding the board's lock until it is; empty when there
    // is none. One not taken is carried out when the store goes.
    std::function<void()> takeCommittedChange();

    // For the operator's tool.
    const char* boardDir() const { return boardDir_; }

    // Every byte of the index as it stands, past its count too; under
    // either lock. Done, NoStore or Failed.
    StoreResult ReadWholeIndex(std::string* bytes);

    // The names in the board directory but "." and "..". Done, NoStore
    // (no directory) or Failed.
    StoreResult ListNames(std::vector<std::string>* names);

    // Needs lockForChange(). Writes a body file under a name that no file
    // holds yet, whole or not at all; never replaces one. Done, NoMessage
    // (the name is taken or not a body name) or Failed.
    StoreResult CreateBody(const std::string& name, const std::string& body);

    // Needs lockForChange(). Replaces the whole index by `index` (unless
    // it is empty) and renames the plain files `renames` (each target not
    // taken yet) as one committed change. Done, NoMessage (a source that
    // is no plain file, a target taken) or Failed.
    StoreResult ReplaceIndex(const std::string& index, const std::vector<std::pair<std::string, std::string>>& renames);

private:
    // Record `count` equals record count - 1 but for TextNum.
    bool lastCountedIsStaleCopy(int count);
    int openIndex();
    int readIndex(void* data, std::size_t size, long offset);
    StoreResult recover();
    bool redoRecordExists();
    void removeScratchFiles();
    // Cuts an index at most one record longer than its count back to it.
    StoreResult cutUncommittedRecord();
    // `synced`: on the disk before it is closed.
    int writeScratch(const char* name, const std::string& bytes, bool synced = false);
    // The body scratch file, when `name` can take its place.
    StoreResult writeBodyScratch(const std::string& name, const std::string& body);
    // Commits `redo`; its steps run at once or by the caller (AfterCommit).
    StoreResult commitAndApply(const class RedoRecord& redo);
    // Carries the committed change out now, or keeps it, with the lock,
    // for takeCommittedChange().
    void keepCommitted(const RedoRecord& redo, const char* redoPath);
    // Removes the scratch files this change made; returns Failed.
    StoreResult discardScratch();
    // The index without the records marked in `erase` (by number) as
    // tmp.dat, `kept` counted; the dropped records go to `erased`, the
    // kept ones' FileNames to `keptNames` when given.
    StoreResult writeShorterIndex(const std::vector<bool>& erase, int kept, std::string* erased,
                                  std::set<std::string>* keptNames);

    char boardDir_[256];
    char indexPath_[512];
    char header_[125];
    int count_ = 0;
    int recordRead_ = 0;  // the record the last ReadRecord() gave whole
    int index_ = -1;
    bool forChange_ = false;
    std::vector<const char*> created_;  // scratch files this change made
    BoardLock lock_;
    AfterCommit after_;
    std::function<void()> committed_;
};
