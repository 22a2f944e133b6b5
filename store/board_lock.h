// A board's lock: a POSIX record lock on "guestbook.lock" in the board
// directory. fcntl locks, unlike flock, also hold between hosts that share
// the boards over a network file system. Readers share it, writers hold it
// alone; it is held until release() or the end of the process.
#pragma once

#include <sys/types.h>

enum class LockMode { Shared, Exclusive };

// Opens the lock file at `path` (created with `createMode` when missing;
// never through a symbolic link) and waits for its lock. Returns the
// descriptor, whose closing lets the lock go, or -1.
int openLockedFile(const char* path, LockMode mode, mode_t createMode);

constexpr char kLockName[] = "guestbook.lock";

class BoardLock {
public:
    BoardLock() = default;
    ~BoardLock();
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;
    // The lock goes with it, still held; `other` holds none.
    BoardLock(BoardLock&& other) noexcept : descriptor(other.descriptor) { other.descriptor = -1; }

    // Waits for the lock of the board whose directory is `boardDir`.
    // Returns 1, or -1 when the lock file cannot be opened or created (no
    // board directory, a symbolic link in its place) or the lock itself
    // is refused (ENOLCK on a network file system without a lock manager).
    int acquire(const char* boardDir, LockMode mode);

    bool held() const { return descriptor >= 0; }

    void release();

private:
    int descriptor = -1;
};
