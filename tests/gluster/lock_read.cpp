// Times what every view of a message pays before its page: take the
// board's lock, read the index header and one record, let go. Run against
// a board on a shared volume and against a copy on local disk.
//
//   lock_read BOARD_DIR RUNS   (BOARD_DIR ends in "/")
//
// Prints "median_us p90_us"; exits 1 when a record read back does not
// carry its own position as TextNum, or any call fails.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kHeaderSize = 125;
constexpr int kRecordSize = 410;

int fail(const char* what, const char* path) {
    std::fprintf(stderr, "lock_read: %s %s: %s\n", what, path, std::strerror(errno));
    return -1;
}

// One view's worth of store access for record n (or 1 when the board
// holds fewer); returns the board's message count, or -1.
int lockAndRead(const char* lockPath, const char* indexPath, int n) {
    int lock = ::open(lockPath, O_RDWR | O_CLOEXEC);
    if (lock < 0) return fail("open", lockPath);
    struct flock request = {};
    request.l_type = F_WRLCK;
    request.l_whence = SEEK_SET;
    int result = -1;
    while (::fcntl(lock, F_SETLKW, &request) != 0) {
        if (errno != EINTR) {
            fail("lock", lockPath);
            ::close(lock);
            return -1;
        }
    }
    int index = ::open(indexPath, O_RDONLY | O_CLOEXEC);
    char header[kHeaderSize + 1] = {};
    char record[kRecordSize + 1] = {};
    if (index < 0) {
        fail("open", indexPath);
    } else if (::pread(index, header, kHeaderSize, 0) != kHeaderSize) {
        fail("read header of", indexPath);
    } else {
        int count = std::atoi(header + 10);
        if (n > count) n = 1;
        if (count < 1 || ::pread(index, record, kRecordSize, 125L + (n - 1) * 410L) != kRecordSize) {
            fail("read record of", indexPath);
        } else if (std::atoi(record) != n) {
            std::fprintf(stderr, "lock_read: record %d of %s holds TextNum %d\n", n, indexPath, std::atoi(record));
        } else {
            result = count;
        }
    }
    if (index >= 0) ::close(index);
    ::close(lock);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lock_read BOARD_DIR RUNS\n");
        return 2;
    }
    char lockPath[4096];
    char indexPath[4096];
    int a = std::snprintf(lockPath, sizeof lockPath, "%sguestbook.lock", argv[1]);
    int b = std::snprintf(indexPath, sizeof indexPath, "%sguestbook.dat", argv[1]);
    int runs = std::atoi(argv[2]);
    if (a < 0 || b < 0 || static_cast<std::size_t>(b) >= sizeof indexPath || runs < 1 || runs > 100000) {
        std::fprintf(stderr, "lock_read: bad arguments\n");
        return 2;
    }
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(runs));
    int n = 1;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        int count = lockAndRead(lockPath, indexPath, n);
        auto end = std::chrono::steady_clock::now();
        if (count < 0) return 1;
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        n = n % count + 1;
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%.1f %.1f\n", micros[micros.size() / 2], micros[micros.size() * 9 / 10]);
    return 0;
}
