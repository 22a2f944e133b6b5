#include "store/board_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "store/durable_file.h"

int openLockedFile(const char* path, LockMode mode, mode_t createMode) {
    int fd = openNoFollow(path, O_RDWR | O_CREAT, createMode);
    // A reader may share a lock file it cannot write.
    if (fd < 0 && mode == LockMode::Shared && errno != ENOENT) fd = openNoFollow(path, O_RDONLY);
    if (fd < 0) return -1;
    struct flock request = {};
    request.l_type = mode == LockMode::Shared ? F_RDLCK : F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    while (::fcntl(fd, F_SETLKW, &request) != 0) {
        if (errno != EINTR) {
            int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

BoardLock::~BoardLock() { release(); }

int BoardLock::acquire(const char* boardDir, LockMode mode) {
    release();
    char lockPath[512];
    if (boardDir[0] == '\0' || !joinPath(lockPath, sizeof lockPath, boardDir, kLockName)) return -1;
    descriptor = openLockedFile(lockPath, mode, 0644);
    return descriptor < 0 ? -1 : 1;
}

void BoardLock::release() {
    if (descriptor >= 0) {
        ::close(descriptor);  // closing drops the fcntl lock
        descriptor = -1;
    }
}
