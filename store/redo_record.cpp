#include "store/redo_record.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "store/durable_file.h"
#include "store/board_lock.h"
#include "store/index_format.h"

namespace {

const char kMagic[] = "gesipan redo 1\n";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::size_t kMaxName = 100;

void putInteger(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

void putName(std::string& out, const std::string& name) {
    putInteger(out, name.size(), 2);
    out += name;
}

// FNV-1a: enough to tell a whole record from one cut short or zero-filled.
std::uint32_t checksum(const char* data, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 16777619u;
    }
    return hash;
}

class Reader {
public:
    Reader(const std::string& bytes, std::size_t end) : bytes_(bytes), end_(end) {}
    bool integer(std::uint64_t* value, int bytes) {
        if (end_ - pos_ < static_cast<std::size_t>(bytes)) return false;
        *value = 0;
        for (int i = 0; i < bytes; ++i) {
            *value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[pos_ + i])) << (8 * i);
        }
        pos_ += static_cast<std::size_t>(bytes);
        return true;
    }
    bool text(std::string* value, std::size_t size) {
        if (end_ - pos_ < size) return false;
        value->assign(bytes_, pos_, size);
        pos_ += size;
        return true;
    }
    bool name(std::string* value) {
        std::uint64_t size;
        return integer(&size, 2) && size <= kMaxName && text(value, size) && isPlainName(*value);
    }
    void skip(std::size_t size) { pos_ += size; }
    bool atEnd() const { return pos_ == end_; }

private:
    const std::string& bytes_;
    std::size_t end_;
    std::size_t pos_ = 0;
};

bool isRegularFile(const char* path, bool* exists) {
    struct stat info;
    if (::lstat(path, &info) != 0) {
        *exists = false;
        return errno == ENOENT;
    }
    *exists = true;
    return S_ISREG(info.st_mode);
}

int applyRename(const char* boardDir, const RedoStep& step) {
    char from[512];
    char to[512];
    if (!joinPath(from, sizeof from, boardDir, step.bytes.c_str()) ||
        !joinPath(to, sizeof to, boardDir, step.target.c_str())) {
        return -1;
    }
    bool exists;
    if (!isRegularFile(from, &exists)) return -1;
    if (!exists) return 1;  // renamed before the crash
    return ::rename(from, to) == 0 ? 1 : -1;
}

int applyRemove(const char* boardDir, const RedoStep& step) {
    char path[512];
    if (!joinPath(path, sizeof path, boardDir, step.bytes.c_str())) return -1;
    bool exists;
    // What stands there and is not a plain file, the store did not make.
    if (!isRegularFile(path, &exists)) return exists ? 1 : -1;
    if (!exists) return 1;
    return ::unlink(path) == 0 || errno == ENOENT ? 1 : -1;
}

// The scratch name a created file is written under before its rename.
const char* scratchFor(const std::string& name) { return name == kIndexName ? kScratchName : kBodyScratchName; }

// True when `fd` already holds exactly `bytes`: the scratch file the
// change wrote before its commit, kept so that the step needs no new space.
bool holdsBytes(int fd, const std::string& bytes) {
    if (fileSize(fd) != static_cast<off_t>(bytes.size())) return false;
    std::string held(bytes.size(), '\0');
    return bytes.empty() || (readAt(fd, &held[0], held.size(), 0) > 0 && held == bytes);
}

// The scratch file of a Create step holding its bytes, open; -1 on failure.
int openFilledScratch(const char* scratch, const std::string& bytes) {
    bool exists;
    // Anything but a plain file the store did not make, and stays.
    if (!isRegularFile(scratch, &exists)) return -1;
    if (exists) {
        int fd = openNoFollow(scratch, O_RDWR);
        if (fd < 0) return -1;
        if (holdsBytes(fd, bytes)) return fd;
        // While a committed record stands, the scratch name is this
        // change's own: what an earlier try left there is written anew.
        ::close(fd);
        if (::unlink(scratch) != 0) return -1;
    }
    int fd = openNoFollow(scratch, O_WRONLY | O_CREAT | O_EXCL);
    if (fd >= 0 && writeAll(fd, bytes.data(), bytes.size()) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int applyCreate(const char* boardDir, const RedoStep& step) {
    char scratch[512];
    char path[512];
    if (!joinPath(scratch, sizeof scratch, boardDir, scratchFor(step.target)) ||
        !joinPath(path, sizeof path, boardDir, step.target.c_str())) {
        return -1;
    }
    int fd = openFilledScratch(scratch, step.bytes);
    if (fd < 0) return -1;
    // The data before the name: the record goes only once both are down.
    bool synced = syncData(fd) > 0;
    if (closeChecked(fd) < 0 || !synced) return -1;
    return ::rename(scratch, path) == 0 ? 1 : -1;
}

// Write and truncate steps share one descriptor of the index.
class IndexSteps {
public:
    explicit IndexSteps(const char* boardDir) : boardDir_(boardDir) {}
    ~IndexSteps() {
        if (fd_ >= 0) ::close(fd_);
    }
    int apply(const RedoStep& step) {
        if (fd_ < 0) {
            char path[512];
            if (!joinPath(path, sizeof path, boardDir_, kIndexName)) return -1;
            fd_ = openNoFollow(path, O_RDWR);
            if (fd_ < 0) return -1;
        }
        if (step.kind == RedoStep::Truncate) return ::ftruncate(fd_, step.offset) == 0 ? 1 : -1;
        return writeAt(fd_, step.bytes.data(), step.bytes.size(), step.offset);
    }
    // Synced and reopened after a step that replaces the index by name.
    int forget() { return finish(); }
    // What was written through the descriptor goes to the disk before the
    // record that describes it may go.
    int finish() {
        if (fd_ < 0) return 1;
        bool synced = syncData(fd_) > 0;
        int closed = closeChecked(fd_);
        fd_ = -1;
        return synced ? closed : -1;
    }

private:
    const char* boardDir_;
    int fd_ = -1;
};

}  // namespace

bool isPlainName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

bool isPlainBodyName(const std::string& name) {
    if (!isPlainName(name)) return false;
    for (const char* own : {kIndexName, kLockName, kScratchName, kRedoName, kRedoScratchName, kBodyScratchName}) {
        if (name == own) return false;
    }
    return true;
}

void RedoRecord::write(long long offset, const char* data, std::size_t size) {
    RedoStep step(RedoStep::Write);
    step.offset = offset;
    step.bytes.assign(data, size);
    steps_.push_back(step);
}

void RedoRecord::truncate(long long length) {
    RedoStep step(RedoStep::Truncate);
    step.offset = length;
    steps_.push_back(step);
}

void RedoRecord::rename(const std::string& from, const std::string& to) {
    RedoStep step(RedoStep::Rename);
    step.bytes = from;
    step.target = to;
    steps_.push_back(step);
}

void RedoRecord::remove(const std::string& name) {
    RedoStep step(RedoStep::Remove);
    step.bytes = name;
    steps_.push_back(step);
}

void RedoRecord::create(const std::string& name, const std::string& bytes) {
    RedoStep step(RedoStep::Create);
    step.target = name;
    step.bytes = bytes;
    steps_.push_back(step);
}

std::string RedoRecord::encode() const {
    std::string out(kMagic, kMagicSize);
    putInteger(out, steps_.size(), 4);
    for (const RedoStep& step : steps_) {
        out.push_back(static_cast<char>(step.kind));
        switch (step.kind) {
            case RedoStep::Write:
                putInteger(out, static_cast<std::uint64_t>(step.offset), 8);
                putInteger(out, step.bytes.size(), 4);
                out += step.bytes;
                break;
            case RedoStep::Truncate:
                putInteger(out, static_cast<std::uint64_t>(step.offset), 8);
                break;
            case RedoStep::Rename:
                putName(out, step.bytes);
                putName(out, step.target);
                break;
            case RedoStep::Remove:
                putName(out, step.bytes);
                break;
            case RedoStep::Create:
                putName(out, step.target);
                putInteger(out, step.bytes.size(), 4);
                out += step.bytes;
                break;
        }
    }
    putInteger(out, out.size(), 8);
    putInteger(out, checksum(out.data(), out.size()), 4);
    return out;
}

bool RedoRecord::decode(const std::string& bytes) {
    steps_.clear();
    if (bytes.size() < kMagicSize + 4 + 12 || bytes.compare(0, kMagicSize, kMagic) != 0) return false;
    const std::size_t body = bytes.size() - 12;
    Reader tail(bytes, bytes.size());
    tail.skip(body);
    std::uint64_t length;
    std::uint64_t sum;
    if (!tail.integer(&length, 8) || !tail.integer(&sum, 4)) return false;
    if (length != body || sum != checksum(bytes.data(), body + 8)) return false;

    Reader in(bytes, body);
    in.skip(kMagicSize);
    std::uint64_t count;
    if (!in.integer(&count, 4)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::string kind;
        if (!in.text(&kind, 1)) return false;
        RedoStep step(static_cast<RedoStep::Kind>(kind[0]));
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        bool ok = false;
        switch (kind[0]) {
            case RedoStep::Write:
                ok = in.integer(&offset, 8) && in.integer(&size, 4) && in.text(&step.bytes, size);
                break;
            case RedoStep::Truncate:
                ok = in.integer(&offset, 8);
                break;
            case RedoStep::Rename:
                ok = in.name(&step.bytes) && in.name(&step.target);
                break;
            case RedoStep::Remove:
                ok = in.name(&step.bytes);
                break;
            case RedoStep::Create:
                ok = in.name(&step.target) && (step.target == kIndexName || isPlainBodyName(step.target)) &&
                     in.integer(&size, 4) && in.text(&step.bytes, size);
                break;
        }
        // Offsets beyond any index this store can hold are no step of ours.
        if (!ok || offset > (1ull << 40)) {
            steps_.clear();
            return false;
        }
        step.offset = static_cast<long long>(offset);
        steps_.push_back(step);
    }
    if (!in.atEnd()) {
        steps_.clear();
        return false;
    }
    return true;
}

int RedoRecord::apply(const char* boardDir) const {
    IndexSteps index(boardDir);
    for (const RedoStep& step : steps_) {
        int done;
        switch (step.kind) {
            case RedoStep::Write:
            case RedoStep::Truncate:
                done = index.apply(step);
                break;
            case RedoStep::Rename:
                done = step.target == kIndexName ? index.forget() : 1;
                if (done > 0) done = applyRename(boardDir, step);
                break;
            case RedoStep::Create:
                done = step.target == kIndexName ? index.forget() : 1;
                if (done > 0) done = applyCreate(boardDir, step);
                break;
            case RedoStep::Remove:
            default:
                done = step.bytes == kIndexName ? index.forget() : 1;
                if (done > 0) done = step.kind == RedoStep::Remove ? applyRemove(boardDir, step) : -1;
                break;
        }
        if (done < 0) return -1;
    }
    return index.finish();
}
