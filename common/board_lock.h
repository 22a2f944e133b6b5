// A board's lock: a POSIX record lock on "guestbook.lock" in the board
// directory. fcntl locks, unlike flock, also hold between hosts that share
// the boards over a network file system. Readers share it, writers hold it
// alone; it is held until release() or the end of the process.
#pragma once

enum class LockMode { Shared, Exclusive };

class BoardLock {
public:
    BoardLock() = default;
    ~BoardLock();
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

    // Waits for the lock of the board whose directory is `boardDir`
    // ("" is the working directory). Returns 1, or -1 when the lock file
    // cannot be opened or created (no board directory, say).
    int acquire(const char* boardDir, LockMode mode);

    void release();

private:
    int descriptor = -1;
};

constexpr char kLockName[] = "guestbook.lock";
