/* Starts one program and reports its own peak resident set.
 *
 *   launcher PROGRAM [ARG...]     (environment, directory and stdio pass through)
 *
 * On Linux a child's ru_maxrss also covers the memory image it had before
 * its exec, which for a spawn from a big driver is the driver's. This
 * launcher is a small static process: it vforks, the child execs PROGRAM,
 * and the figure wait4 gives back is PROGRAM's own peak or, at the least,
 * the launcher's own small image. The report goes to descriptor 3 (or to
 * stderr when 3 is not open), one line:
 *   maxrss_kb launcher_kb wait_status
 * and the launcher exits 0 once it has reported; 2 if it could not. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

/* VmHWM of this process, read without stdio so the reading adds nothing. */
static long own_peak_kb(void) {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    static char text[4096];
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return -1;
    text[got] = '\0';
    const char *line = strstr(text, "VmHWM:");
    return line ? strtol(line + 6, NULL, 10) : -1;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        static const char usage[] = "usage: launcher PROGRAM [ARG...]\n";
        if (write(2, usage, sizeof usage - 1) < 0) return 2;
        return 2;
    }
    int report = 3;
    if (fcntl(report, F_SETFD, FD_CLOEXEC) != 0) report = 2;
    long own_kb = own_peak_kb();

    pid_t pid = vfork();
    if (pid == 0) {
        execve(argv[1], argv + 1, environ);
        _exit(127);
    }
    if (pid < 0) return 2;
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return 2;
    }
    char line[96];
    int length = snprintf(line, sizeof line, "%ld %ld %d\n", usage.ru_maxrss, own_kb, status);
    if (length < 0 || (size_t)length >= sizeof line) return 2;
    return write(report, line, (size_t)length) == length ? 0 : 2;
}
