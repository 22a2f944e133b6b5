#include "store/durable_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kStaleTries = 5;

}  // namespace

int openNoFollow(const char* path, int flags, mode_t mode) {
    for (int tries = 0;;) {
        int fd = ::open(path, flags | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno == EINTR) continue;
        if (errno != ESTALE || ++tries >= kStaleTries) return -1;
    }
}

long readAtMost(int fd, void* data, std::size_t size, off_t offset) {
    char* p = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = ::pread(fd, p + done, size - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

int readAt(int fd, void* data, std::size_t size, off_t offset) {
    long got = readAtMost(fd, data, size, offset);
    if (got < 0) return -1;
    return static_cast<std::size_t>(got) == size ? 1 : 0;
}

int writeAt(int fd, const void* data, std::size_t size, off_t offset) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::pwrite(fd, p + done, size - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        done += static_cast<std::size_t>(put);
    }
    return 1;
}

int writeAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return -1;
        done += static_cast<std::size_t>(put);
    }
    return 1;
}

namespace {

// 1 whole, 0 not a regular file, -1 error (errno kept; EFBIG past `cap`).
int readOpenFile(int fd, std::string* data, std::size_t cap) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return -1;
    if (!S_ISREG(info.st_mode)) return 0;
    data->clear();
    if (info.st_size > 0 && static_cast<unsigned long long>(info.st_size) > cap) {
        errno = EFBIG;
        return -1;
    }
    // The size only hints: the file may still grow while it is read.
    data->reserve(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 0));
    char chunk[65536];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) return 1;
        const std::size_t room = cap - data->size();
        if (static_cast<std::size_t>(got) > room) {
            data->append(chunk, room);
            errno = EFBIG;
            return -1;
        }
        data->append(chunk, static_cast<std::size_t>(got));
    }
}

// Closes the descriptor however the reading ends, an exception included.
struct ClosedAtEnd {
    int fd;
    ~ClosedAtEnd() { ::close(fd); }
};

}  // namespace

int readWholeFile(const char* path, std::string* data, std::size_t cap) {
    for (int tries = 0;;) {
        // O_NONBLOCK: a FIFO planted under a body's name must not hang the run.
        int fd = openNoFollow(path, O_RDONLY | O_NONBLOCK);
        if (fd < 0) return errno == ENOENT || errno == ELOOP || errno == ENOTDIR ? 0 : -1;
        int result;
        int readError;
        {
            ClosedAtEnd closed{fd};
            result = readOpenFile(fd, data, cap);
            readError = errno;
        }
        errno = readError;
        if (result >= 0) return result;
        if (readError != ESTALE || ++tries >= kStaleTries) return -1;
    }
}

off_t fileSize(int fd) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return -1;
    return info.st_size;
}

int closeChecked(int fd) { return ::close(fd) == 0 ? 1 : -1; }

int syncData(int fd) {
    while (::fdatasync(fd) != 0) {
        if (errno != EINTR) return -1;
    }
    return 1;
}

int syncDirectory(const char* dir) {
    int fd = openNoFollow(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return -1;
    int synced;
    while ((synced = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    int error = errno;
    ::close(fd);
    errno = error;
    return synced == 0 ? 1 : -1;
}

int replaceDurably(int fd, const char* from, const char* to, const char* dir) {
    bool synced = syncData(fd) > 0;
    if (closeChecked(fd) < 0 || !synced) return -1;
    if (::rename(from, to) != 0) return -1;
    return syncDirectory(dir) > 0 ? 1 : 0;
}

bool replaceWithoutSync(const char* scratch, const char* path, const std::string& text) {
    struct stat info;
    if (::lstat(scratch, &info) == 0 && S_ISREG(info.st_mode)) ::unlink(scratch);
    int fd = openNoFollow(scratch, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    bool written = writeAll(fd, text.data(), text.size()) > 0;
    if (closeChecked(fd) < 0) written = false;
    if (written && ::rename(scratch, path) == 0) return true;
    ::unlink(scratch);
    return false;
}

bool joinPath(char* path, std::size_t size, const char* dir, const char* name) {
    int needed = std::snprintf(path, size, "%s%s", dir, name);
    if (needed < 0 || static_cast<std::size_t>(needed) >= size) {
        if (size > 0) path[0] = '\0';
        return false;
    }
    return true;
}
