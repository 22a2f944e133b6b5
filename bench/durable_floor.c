/* The physical floor of a durable post: the least a program can do to
 * store a message so that a power cut keeps it. It writes a body file and
 * a record with the header after the index's last record, makes the index
 * data durable with one fdatasync and the new name with one fsync of the
 * directory, then prints a page of PAGE_BYTES bytes like the baseline.
 *
 *   durable_floor DIR COUNT     (the board in DIR holds COUNT messages)
 *
 * The benchmark removes the body file and restores the index before every
 * run. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef PAGE_BYTES
#define PAGE_BYTES 2048
#endif

static char page[PAGE_BYTES];

static int fail(const char *what) {
    perror(what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    const char *dir = argv[1];
    int count = atoi(argv[2]);
    if (count < 0 || count > 9998) return 2;
    char path[4096];
    static const char body[] = "First line<br>\nSecond line<br>\nThird line<br>\n";
    snprintf(path, sizeof path, "%s/guestbook%d.html", dir, count + 1);
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, body, sizeof body - 1) != (ssize_t)(sizeof body - 1) || close(fd) != 0) return fail(path);

    char header[125] = {0};
    char record[410] = {0};
    char number[12];
    int digits = snprintf(number, sizeof number, "%d", count + 1);  /* at most 4: count is checked */
    memcpy(header, number, (size_t)digits);
    memcpy(header + 10, number, (size_t)digits);
    memcpy(record, number, (size_t)digits);
    snprintf(record + 310, 100, "guestbook%d.html", count + 1);
    snprintf(path, sizeof path, "%s/guestbook.dat", dir);
    fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0 || pwrite(fd, record, sizeof record, 125 + 410L * count) != (ssize_t)sizeof record ||
        pwrite(fd, header, sizeof header, 0) != (ssize_t)sizeof header || fdatasync(fd) != 0 || close(fd) != 0) {
        return fail(path);
    }
    fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0 || close(fd) != 0) return fail(dir);

    static const char head[] = "Content-type: text/html\n\n";
    memset(page, 'x', sizeof page);
    memcpy(page, head, sizeof head - 1);
    return write(1, page, sizeof page) == (ssize_t)sizeof page ? 0 : 1;
}
