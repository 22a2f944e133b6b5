/* "cp FROM TO" then "sync TO" in one process: copies a file to a new one
 * and waits until the copy is on the disk, the durable work an erase that
 * rewrites the whole index cannot do without.
 *
 *   copy_sync FROM TO */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    int out = open(argv[2], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (in < 0 || out < 0) {
        perror("copy_sync");
        return 1;
    }
    static char chunk[1 << 17];
    ssize_t got;
    while ((got = read(in, chunk, sizeof chunk)) > 0) {
        if (write(out, chunk, (size_t)got) != got) return 1;
    }
    if (got < 0 || fdatasync(out) != 0 || close(out) != 0) {
        perror("copy_sync");
        return 1;
    }
    return 0;
}
