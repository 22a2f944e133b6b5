#include "board_lock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

BoardLock::~BoardLock() { release(); }

int BoardLock::acquire(const char* boardDir, LockMode mode) {
    release();
    char lockPath[512];
    int needed = std::snprintf(lockPath, sizeof lockPath, "%s%s", boardDir, kLockName);
    if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof lockPath) return -1;
    descriptor = ::open(lockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0 && mode == LockMode::Shared) descriptor = ::open(lockPath, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return -1;
    struct flock request = {};
    request.l_type = mode == LockMode::Shared ? F_RDLCK : F_WRLCK;
    request.l_whence = SEEK_SET;
    request.l_start = 0;
    request.l_len = 0;
    while (::fcntl(descriptor, F_SETLKW, &request) != 0) {
        if (errno != EINTR) {
            release();
            return -1;
        }
    }
    return 1;
}

void BoardLock::release() {
    if (descriptor >= 0) {
        ::close(descriptor);  // closing drops the fcntl lock
        descriptor = -1;
    }
}
