#include "store/board_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "store/durable_file.h"

BoardLock::~BoardLock() { release(); }

int BoardLock::acquire(const char* boardDir, LockMode mode) {
    release();
    char lockPath[512];
    if (boardDir[0] == '\0' || !joinPath(lockPath, sizeof lockPath, boardDir, kLockName)) return -1;
    descriptor = openNoFollow(lockPath, O_RDWR | O_CREAT);
    // A reader may share a lock file it cannot write.
    if (descriptor < 0 && mode == LockMode::Shared && errno != ENOENT) descriptor = openNoFollow(lockPath, O_RDONLY);
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
