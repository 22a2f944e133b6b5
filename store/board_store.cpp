#include "store/board_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "store/durable_file.h"
#include "store/redo_record.h"
#include "store/index_format.h"

namespace {

// A committed change is carried out again when a step fails: on a local
// disk a second try rarely fails the same way, and if it does the redo
// record stays for the next request to finish.
constexpr int kApplyTries = 3;
constexpr int kStaleTries = 5;
constexpr int kRecordsPerChunk = 1024;
// The unit a disk writes whole.
constexpr long kSectorSize = 512;

// Scratch names a change may leave behind when it dies before its commit.
const char* const kScratchNames[] = {kRedoScratchName, kBodyScratchName, kScratchName};

// Carries out a committed change; only once its steps are on the disk
// (apply waits for them) does its record go, and should that removal be
// lost, the steps just run again. A change that cannot be carried out
// stays committed for the next lock holder.
void finishCommitted(const RedoRecord& redo, const char* boardDir, const char* redoPath) {
    bool applied = false;
    for (int tries = 0; tries < kApplyTries && !applied; ++tries) applied = redo.apply(boardDir) > 0;
    if (applied) ::unlink(redoPath);
}

// A committed change waiting for its page to go out, with the board's lock
// that keeps every other request away from it until it is carried out.
struct CommittedChange {
    // The lock is taken from `held` only once the rest is made.
    CommittedChange(const RedoRecord& r, const char* dir, const char* path, BoardLock&& held)
        : redo(r), boardDir(dir), redoPath(path), lock(std::move(held)) {}
    void finish() {
        finishCommitted(redo, boardDir.c_str(), redoPath.c_str());
        lock.release();
    }
    RedoRecord redo;
    std::string boardDir;
    std::string redoPath;
    BoardLock lock;  // last: see the constructor
};

bool isRegularFile(const char* path) {
    struct stat info;
    return ::lstat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

BoardStore::BoardStore(const char* boardDir, AfterCommit after) : header_(), after_(after) {
    if (!joinPath(boardDir_, sizeof boardDir_, boardDir, "")) boardDir_[0] = '\0';
    joinPath(indexPath_, sizeof indexPath_, boardDir_, kIndexName);
}

BoardStore::~BoardStore() {
    if (index_ >= 0) ::close(index_);
    // A change its caller did not take is carried out now rather than left
    // to the next lock holder.
    if (committed_) committed_();
}

std::function<void()> BoardStore::takeCommittedChange() {
    std::function<void()> change;
    change.swap(committed_);
    return change;
}

int BoardStore::openIndex() {
    if (index_ >= 0) return 1;
    if (!isBoard()) return 0;
    index_ = openNoFollow(indexPath_, forChange_ ? O_RDWR : O_RDONLY);
    if (index_ >= 0) return 1;
    return errno == ENOENT ? 0 : -1;
}

int BoardStore::readIndex(void* data, std::size_t size, long offset) {
    for (int tries = 0;; ++tries) {
        if (openIndex() <= 0) return -1;
        int result = readAt(index_, data, size, offset);
        if (result >= 0 || errno != ESTALE || tries + 1 >= kStaleTries) return result;
        // Replaced on another host: the name now holds the current index.
        ::close(index_);
        index_ = -1;
    }
}

StoreResult BoardStore::lockForChange() {
    recordRead_ = 0;
    if (!isBoard()) return StoreResult::NoBoard;
    if (lock_.acquire(boardDir_, LockMode::Exclusive) < 0) {
        return errno == ENOENT ? StoreResult::NoStore : StoreResult::LockFailed;
    }
    forChange_ = true;
    if (index_ >= 0) ::close(index_);
    index_ = -1;
    return recover();
}

bool BoardStore::lockForReading() {
    if (!isBoard() || lock_.acquire(boardDir_, LockMode::Shared) < 0) return false;
    if (!redoRecordExists()) return true;
    // A change died half done: finish it before reading, or read without
    // the lock when the exclusive one cannot be had.
    lock_.release();
    if (lockForChange() != StoreResult::Done) return lock_.held();
    return true;
}

void BoardStore::unlock() {
    recordRead_ = 0;
    lock_.release();
}

bool BoardStore::redoRecordExists() {
    char path[512];
    struct stat info;
    return joinPath(path, sizeof path, boardDir_, kRedoName) && ::lstat(path, &info) == 0;
}

StoreResult BoardStore::recover() {
    char path[512];
    if (!joinPath(path, sizeof path, boardDir_, kRedoName)) return StoreResult::Failed;
    std::string bytes;
    // A committed change holds at most a body and a few records; a longer
    // file is not read into memory, and the board waits for its owner.
    int found = readWholeFile(path, &bytes, 2 * kMaxBodyBytes);
    if (found < 0) return StoreResult::Failed;
    if (found > 0) {
        RedoRecord redo;
        // A record that does not decode was never committed whole (cut by
        // a power cut): none of its steps ran, so it is dropped.
        if (redo.decode(bytes)) {
            int applied = -1;
            for (int tries = 0; tries < kApplyTries && applied < 0; ++tries) applied = redo.apply(boardDir_);
            if (applied < 0) return StoreResult::Failed;
        }
        if (::unlink(path) != 0 && errno != ENOENT) return StoreResult::Failed;
    }
    removeScratchFiles();
    return cutUncommittedRecord();
}

StoreResult BoardStore::cutUncommittedRecord() {
    char header[kHeaderSize];
    if (openIndex() <= 0 || readIndex(header, sizeof header, 0) != 1) return StoreResult::Done;
    const int count = fieldNumber(header, field::TextCount);
    if (count < 0 || count > kMaxMessages) return StoreResult::Done;
    const off_t expected = kHeaderSize + static_cast<off_t>(count) * kRecordSize;
    const off_t size = fileSize(index_);
    // At most one record past the count: a post that died before its
    // commit (or the stale last slot of the older program's erase).
    // Anything longer is damage for the operator, and is left as it is.
    if (size <= expected || size > expected + kRecordSize) return StoreResult::Done;
    // Unless the last counted record is that stale slot: then the one past
    // it is a later post of the older program, for the operator's repair.
    if (lastCountedIsStaleCopy(count)) return StoreResult::Done;
    return ::ftruncate(index_, expected) == 0 ? StoreResult::Done : StoreResult::Failed;
}

void BoardStore::removeScratchFiles() {
    for (const char* name : kScratchNames) {
        char path[512];
        // Only a plain file can be ours; anything else stays where it is.
        if (joinPath(path, sizeof path, boardDir_, name) && isRegularFile(path)) ::unlink(path);
    }
}

StoreResult BoardStore::ReadHeader(char* header) {
    int opened = openIndex();
    if (opened == 0) return StoreResult::NoStore;
    if (opened < 0) return StoreResult::Failed;
    int read = readIndex(header_, sizeof header_, 0);
    if (read == 0) return StoreResult::Damaged;
    if (read < 0) return StoreResult::Failed;
    std::memcpy(header, header_, sizeof header_);
    count_ = fieldNumber(header_, field::TextCount);
    return StoreResult::Done;
}

StoreResult BoardStore::ReadRecord(int n, char* record) {
    recordRead_ = 0;
    if (n < 1 || n > count_) return StoreResult::NoMessage;
    int result = readIndex(record, kRecordSize, RecordOffset(n));
    if (result == 0) return StoreResult::NoMessage;
    if (result < 0) return StoreResult::Failed;
    recordRead_ = n;
    return StoreResult::Done;
}

StoreResult BoardStore::ReadRecords(int first, int last, std::string* records) {
    records->clear();
    if (first < 1 || last > count_ || first > last) return StoreResult::NoMessage;
    records->resize(static_cast<std::size_t>(last - first + 1) * kRecordSize);
    for (int tries = 0;; ++tries) {
        if (openIndex() <= 0) return StoreResult::Failed;
        long got = readAtMost(index_, &(*records)[0], records->size(), RecordOffset(first));
        if (got >= 0) {
            // A file shorter than its count ends the range at its last whole record.
            records->resize(static_cast<std::size_t>(got) / kRecordSize * kRecordSize);
            return StoreResult::Done;
        }
        if (errno != ESTALE || tries + 1 >= kStaleTries) return StoreResult::Failed;
        // Replaced on another host: the name now holds the current index.
        ::close(index_);
        index_ = -1;
    }
}

bool BoardStore::hasStoreLength() {
    if (count_ < 0 || count_ > kMaxMessages || openIndex() <= 0) return false;
    return fileSize(index_) == kHeaderSize + static_cast<off_t>(count_) * kRecordSize;
}

StoreResult BoardStore::readBody(const std::string& fileName, std::string* body, bool* tooLarge) {
    char path[512];
    if (tooLarge) *tooLarge = false;
    if (!isBoard() || !isPlainBodyName(fileName) || !joinPath(path, sizeof path, boardDir_, fileName.c_str())) {
        return StoreResult::NoMessage;
    }
    int result = readWholeFile(path, body, kMaxBodyBytes);
    if (result < 0 && errno == EFBIG) {
        if (tooLarge) *tooLarge = true;
        // What was read goes at once: a page shows none of it.
        std::string().swap(*body);
        return StoreResult::Failed;
    }
    if (result == 0) return StoreResult::NoMessage;
    return result > 0 ? StoreResult::Done : StoreResult::Failed;
}

int BoardStore::writeScratch(const char* name, const std::string& bytes, bool synced) {
    char path[512];
    if (!joinPath(path, sizeof path, boardDir_, name)) return -1;
    // O_EXCL: whatever stands at a scratch name after the recovery is not
    // ours, and is neither followed nor replaced.
    int fd = openNoFollow(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return -1;
    bool written = writeAll(fd, bytes.data(), bytes.size()) > 0;
    if (written && synced && syncData(fd) < 0) written = false;
    if (closeChecked(fd) < 0) written = false;
    if (!written) {
        ::unlink(path);
        return -1;
    }
    created_.push_back(name);
    return 1;
}

StoreResult BoardStore::writeBodyScratch(const std::string& name, const std::string& body) {
    char path[512];
    struct stat info;
    if (!joinPath(path, sizeof path, boardDir_, name.c_str())) return StoreResult::BodyFailed;
    // A directory under the body's name would stop the committed rename
    // for good; refuse before anything is committed.
    if (::lstat(path, &info) == 0 && S_ISDIR(info.st_mode)) return StoreResult::BodyFailed;
    return writeScratch(kBodyScratchName, body) > 0 ? StoreResult::Done : StoreResult::BodyFailed;
}

StoreResult BoardStore::discardScratch() {
    for (const char* name : created_) {
        char path[512];
        if (joinPath(path, sizeof path, boardDir_, name)) ::unlink(path);
    }
    created_.clear();
    return StoreResult::Failed;
}

StoreResult BoardStore::commitAndApply(const RedoRecord& redo) {
    recordRead_ = 0;
    char scratchPath[512];
    char redoPath[512];
    if (!joinPath(scratchPath, sizeof scratchPath, boardDir_, kRedoScratchName) ||
        !joinPath(redoPath, sizeof redoPath, boardDir_, kRedoName)) {
        return discardScratch();
    }
    int fd = openNoFollow(scratchPath, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return discardScratch();
    created_.push_back(kRedoScratchName);
    const std::string bytes = redo.encode();
    if (writeAll(fd, bytes.data(), bytes.size()) < 0) {
        ::close(fd);
        return discardScratch();
    }
    // The commit: the record on the disk, then its name. From here the
    // change happens, now or at the next lock, power cut or not.
    int committed = replaceDurably(fd, scratchPath, redoPath, boardDir_);
    if (committed < 0) return discardScratch();
    if (committed == 0) {
        // Renamed, but the disk did not take the name: take the commit
        // back rather than claim a change a power cut may undo.
        ::unlink(redoPath);
        syncDirectory(boardDir_);
        return discardScratch();
    }
    created_.clear();
    if (index_ >= 0) ::close(index_);
    index_ = -1;
    keepCommitted(redo, redoPath);
    return StoreResult::Done;
}

void BoardStore::keepCommitted(const RedoRecord& redo, const char* redoPath) {
    // Committed, so the page may go out now; the steps and their syncs
    // follow once the server has it, under the lock held until then.
    if (after_ == AfterCommit::ByCaller) {
        try {
            auto change = std::make_shared<CommittedChange>(redo, boardDir_, redoPath, std::move(lock_));
            forChange_ = false;
            committed_ = [change] { change->finish(); };
            return;
        } catch (const std::bad_alloc&) {
            // No memory to wait with: carried out now, the lock still ours.
        }
    }
    finishCommitted(redo, boardDir_, redoPath);
    forChange_ = false;
    lock_.release();
}

StoreResult BoardStore::AppendRecord(const char* header, const char* record, const std::string& body, bool fresh) {
    const std::string name = fieldText(record, field::FileName);
    const int count = fieldNumber(header, field::TextCount);
    if (!forChange_ || !isPlainBodyName(name) || count < 1 || count > kMaxMessages) return StoreResult::Damaged;
    StoreResult scratch = writeBodyScratch(name, body);
    if (scratch != StoreResult::Done) return scratch;
    // The body and a new index go into the redo record whole, so that
    // the record is all that has to reach the disk before the commit; the
    // scratch files written here only make sure the space is there.
    RedoRecord redo;
    redo.create(name, body);
    if (fresh) {
        std::string index(header, kHeaderSize);
        index.append(record, kRecordSize);
        if (writeScratch(kScratchName, index) < 0) return discardScratch();
        redo.create(kIndexName, index);
    } else {
        // The record goes beyond the old count before the commit, where no
        // reader counts it: a full disk then stops the post before it is
        // committed, and what runs after the commit needs no new space.
        if (openIndex() <= 0 || writeAt(index_, record, kRecordSize, RecordOffset(count)) < 0) {
            if (index_ >= 0) ::ftruncate(index_, RecordOffset(count));
            return discardScratch();
        }
        redo.write(RecordOffset(count), record, kRecordSize);
        redo.write(0, header, kHeaderSize);
        redo.truncate(kHeaderSize + static_cast<long long>(count) * kRecordSize);
    }
    StoreResult committed = commitAndApply(redo);
    // Not committed: the record written ahead goes again (or, should that
    // fail too, with the next lock's recovery).
    if (committed != StoreResult::Done && !fresh && index_ >= 0) ::ftruncate(index_, RecordOffset(count));
    return committed;
}

StoreResult BoardStore::RewriteRecord(int n, const char* record, const std::string& body) {
    const std::string name = fieldText(record, field::FileName);
    if (n < 1 || n > count_) return StoreResult::NoMessage;
    if (!forChange_ || !isPlainBodyName(name)) return StoreResult::Damaged;
    StoreResult scratch = writeBodyScratch(name, body);
    if (scratch != StoreResult::Done) return scratch;
    RedoRecord redo;
    redo.create(name, body);
    redo.write(RecordOffset(n), record, kRecordSize);
    return commitAndApply(redo);
}

StoreResult BoardStore::BumpReadCount(int n, char* record) {
    // Read again unless the caller holds it as read under this lock.
    StoreResult read = recordRead_ == n ? StoreResult::Done : ReadRecord(n, record);
    if (read != StoreResult::Done) return read;
    if (!forChange_) return StoreResult::Failed;
    int count = fieldNumber(record, field::ReadCount);
    if (count < 0) count = 0;
    // Ten stored digits parse above the cap; "%4d" of such a value would be cut.
    if (count > kMaxReadCount) count = kMaxReadCount;
    if (count < kMaxReadCount) ++count;
    char before[kRecordSize];
    std::memcpy(before, record, sizeof before);
    putFormatted(record, field::ReadCount, "%4d", count);
    // Only the bytes that change are written, unsynced: a power cut may
    // lose the count. A disk writes a sector whole, so changed bytes
    // within one sector land all or none; the rare count whose changed
    // digits straddle a sector goes through a commit, never torn.
    int first = field::ReadCount.offset;
    int last = field::ReadCount.offset + field::ReadCount.width - 1;
    while (first <= last && before[first] == record[first]) ++first;
    while (last >= first && before[last] == record[last]) --last;
    if (first > last) return StoreResult::Done;
    const long at = RecordOffset(n) + first;
    const int size = last - first + 1;
    if (at / kSectorSize != (at + size - 1) / kSectorSize) {
        RedoRecord redo;
        redo.write(at, record + first, static_cast<std::size_t>(size));
        return commitAndApply(redo);
    }
    return writeAt(index_, record + first, static_cast<std::size_t>(size), at) > 0 ? StoreResult::Done
                                                                                   : StoreResult::Failed;
}

StoreResult BoardStore::writeShorterIndex(const std::vector<bool>& erase, int kept, std::string* erased,
                                          std::set<std::string>* keptNames) {
    char path[512];
    if (!joinPath(path, sizeof path, boardDir_, kScratchName)) return StoreResult::Failed;
    int fd = openNoFollow(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) return StoreResult::Failed;
    char header[kHeaderSize];
    std::memcpy(header, header_, sizeof header);
    putNumber(header, field::TextCount, kept);
    bool written = writeAll(fd, header, sizeof header) > 0;
    std::vector<char> chunk(static_cast<std::size_t>(kRecordsPerChunk) * kRecordSize);
    int erasedSoFar = 0;
    bool numbered = true;
    for (int first = 1; written && numbered && first <= count_; first += kRecordsPerChunk) {
        int records = count_ - first + 1 < kRecordsPerChunk ? count_ - first + 1 : kRecordsPerChunk;
        if (readIndex(chunk.data(), static_cast<std::size_t>(records) * kRecordSize, RecordOffset(first)) != 1) {
            written = false;
            break;
        }
        // Erased records are dropped from the chunk in place, so that
        // each chunk goes out in one write.
        std::size_t keptHere = 0;
        for (int i = 0; i < records; ++i) {
            char* record = chunk.data() + static_cast<std::size_t>(i) * kRecordSize;
            int at = first + i;
            // Renumbering a record that is not where its number says (bytes
            // shifted in the file) would write nonsense numbers.
            if (fieldNumber(record, field::TextNum) != at) numbered = false;
            if (erase[static_cast<std::size_t>(at)]) {
                erased->append(record, kRecordSize);
                ++erasedSoFar;
                continue;
            }
            if (erasedSoFar > 0) {
                putNumber(record, field::TextNum, fieldNumber(record, field::TextNum) - erasedSoFar);
            }
            if (keptNames) keptNames->insert(fieldText(record, field::FileName));
            char* place = chunk.data() + keptHere * kRecordSize;
            if (place != record) std::memmove(place, record, kRecordSize);
            ++keptHere;
        }
        written = writeAll(fd, chunk.data(), keptHere * kRecordSize) > 0;
    }
    // Too big for the redo record: on the disk before the commit names it.
    if (written && syncData(fd) < 0) written = false;
    if (closeChecked(fd) < 0) written = false;
    if (!written || !numbered) {
        ::unlink(path);
        return numbered ? StoreResult::Failed : StoreResult::Damaged;
    }
    created_.push_back(kScratchName);
    return StoreResult::Done;
}

StoreResult BoardStore::RemoveRecord(int n, char* erased) {
    if (n < 1 || n > count_) return StoreResult::NoMessage;
    if (!forChange_ || !hasStoreLength()) return StoreResult::Damaged;
    RedoRecord redo;
    if (count_ == 1 || n == count_) {
        if (ReadRecord(n, erased) != StoreResult::Done) return StoreResult::Failed;
        if (fieldNumber(erased, field::TextNum) != n) return StoreResult::Damaged;
    }
    if (count_ == 1) {
        // The only message takes the store with it; the next post starts afresh.
        redo.remove(kIndexName);
    } else if (n == count_) {
        // The newest message: nothing moves, the index is cut.
        char header[kHeaderSize];
        std::memcpy(header, header_, sizeof header);
        putNumber(header, field::TextCount, count_ - 1);
        redo.write(0, header, kHeaderSize);
        redo.truncate(kHeaderSize + static_cast<long long>(count_ - 1) * kRecordSize);
    } else {
        std::vector<bool> erase(static_cast<std::size_t>(count_) + 1, false);
        erase[static_cast<std::size_t>(n)] = true;
        std::string records;
        StoreResult written = writeShorterIndex(erase, count_ - 1, &records, nullptr);
        if (written != StoreResult::Done) return written;
        std::memcpy(erased, records.data(), kRecordSize);
        redo.rename(kScratchName, kIndexName);
    }
    const std::string name = fieldText(erased, field::FileName);
    if (isPlainBodyName(name)) redo.remove(name);
    return commitAndApply(redo);
}

StoreResult BoardStore::RemoveRecords(const std::vector<int>& numbers, std::string* erased) {
    erased->clear();
    if (!forChange_ || !hasStoreLength()) return StoreResult::Damaged;
    std::vector<bool> erase(static_cast<std::size_t>(count_) + 1, false);
    int erasing = 0;
    for (int n : numbers) {
        if (n < 1 || n > count_) return StoreResult::NoMessage;
        if (!erase[static_cast<std::size_t>(n)]) ++erasing;
        erase[static_cast<std::size_t>(n)] = true;
    }
    if (erasing == 0) return StoreResult::Done;
    RedoRecord redo;
    std::set<std::string> keptNames;
    if (erasing == count_) {
        // Every message goes: the store goes with them, as with the only one.
        char record[kRecordSize];
        for (int n = 1; n <= count_; ++n) {
            if (ReadRecord(n, record) != StoreResult::Done) return StoreResult::Failed;
            if (fieldNumber(record, field::TextNum) != n) return StoreResult::Damaged;
            erased->append(record, kRecordSize);
        }
        redo.remove(kIndexName);
    } else {
        StoreResult written = writeShorterIndex(erase, count_ - erasing, erased, &keptNames);
        if (written != StoreResult::Done) return written;
        redo.rename(kScratchName, kIndexName);
    }
    std::set<std::string> removing;
    for (std::size_t at = 0; at < erased->size(); at += kRecordSize) {
        const std::string name = fieldText(erased->data() + at, field::FileName);
        // A body file that a kept record names too stays with that record.
        if (isPlainBodyName(name) && !keptNames.count(name) && removing.insert(name).second) redo.remove(name);
    }
    return commitAndApply(redo);
}

StoreResult BoardStore::ReadWholeIndex(std::string* bytes) {
    if (!isBoard()) return StoreResult::NoStore;
    // Past a full board by a record and more, no index of this store.
    const std::size_t cap = kHeaderSize + (kMaxMessages + 2) * static_cast<std::size_t>(kRecordSize);
    int result = readWholeFile(indexPath_, bytes, cap);
    if (result == 0) return StoreResult::NoStore;
    return result > 0 ? StoreResult::Done : StoreResult::Failed;
}

StoreResult BoardStore::ListNames(std::vector<std::string>* names) {
    names->clear();
    if (!isBoard()) return StoreResult::NoStore;
    DIR* dir = ::opendir(boardDir_);
    if (!dir) return errno == ENOENT || errno == ENOTDIR ? StoreResult::NoStore : StoreResult::Failed;
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
        errno = 0;
    }
    bool whole = errno == 0;
    ::closedir(dir);
    return whole ? StoreResult::Done : StoreResult::Failed;
}

StoreResult BoardStore::CreateBody(const std::string& name, const std::string& body) {
    char scratchPath[512];
    char path[512];
    if (!forChange_) return StoreResult::Failed;
    if (!isPlainBodyName(name) || !joinPath(path, sizeof path, boardDir_, name.c_str())) return StoreResult::NoMessage;
    if (!joinPath(scratchPath, sizeof scratchPath, boardDir_, kBodyScratchName)) return StoreResult::Failed;
    // Synced: the link's name reaches the disk with the next commit or
    // directory sync, and must not name a file without its bytes.
    if (writeScratch(kBodyScratchName, body, true) < 0) return StoreResult::Failed;
    // link(2), unlike rename, never replaces a file that is there.
    bool linked = ::link(scratchPath, path) == 0;
    int linkError = errno;
    ::unlink(scratchPath);
    created_.clear();
    if (linked) return StoreResult::Done;
    return linkError == EEXIST ? StoreResult::NoMessage : StoreResult::Failed;
}

StoreResult BoardStore::ReplaceIndex(const std::string& index,
                                     const std::vector<std::pair<std::string, std::string>>& renames) {
    if (!forChange_) return StoreResult::Failed;
    RedoRecord redo;
    for (const auto& names : renames) {
        char from[512];
        char to[512];
        struct stat info;
        if (!isPlainBodyName(names.first) || !isPlainBodyName(names.second) ||
            !joinPath(from, sizeof from, boardDir_, names.first.c_str()) ||
            !joinPath(to, sizeof to, boardDir_, names.second.c_str()) || !isRegularFile(from) ||
            ::lstat(to, &info) == 0) {
            return StoreResult::NoMessage;
        }
        redo.rename(names.first, names.second);
    }
    if (!index.empty()) {
        if (writeScratch(kScratchName, index, true) < 0) return discardScratch();
        redo.rename(kScratchName, kIndexName);
    }
    // Nothing to commit: bodies made by CreateBody still get their names
    // onto the disk.
    if (redo.steps().empty()) return syncDirectory(boardDir_) > 0 ? StoreResult::Done : StoreResult::Failed;
    return commitAndApply(redo);
}

bool BoardStore::lastCountedIsStaleCopy(int count) {
    if (count < 2) return false;
    char before[kRecordSize];
    char last[kRecordSize];
    if (readIndex(before, sizeof before, RecordOffset(count - 1)) != 1 ||
        readIndex(last, sizeof last, RecordOffset(count)) != 1) {
        return false;
    }
    const int from = field::TextNum.offset + field::TextNum.width;
    return std::memcmp(before + from, last + from, kRecordSize - from) == 0;
}
