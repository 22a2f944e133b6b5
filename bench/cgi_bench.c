/* Runs programs as CGI processes many times and reports wall time and peak
 * memory per case.
 *
 *   cgi_bench [-n RUNS] [-w WARMUP] [-r RAWDIR] [-l LAUNCHER [-m MEMRUNS]] CASEFILE
 *
 * The case file holds blocks of "key value" lines, each block opened by
 * "case NAME":
 *   program PATH        executable to start
 *   arg TEXT            one more argument (repeatable)
 *   dir PATH            working directory of the run
 *   env NAME=VALUE      environment entry (repeatable); nothing else is passed
 *   stdin PATH          file given as standard input
 *   restore SRC DST     DST made afresh from SRC before every run, outside the
 *                       timed region: a plain file rewritten in place and
 *                       synced (anything else replaced by a new file), and
 *                       the directory synced, so the run neither inherits a
 *                       pending write-back nor writes through a link
 *   remove PATH         removed before every run, outside the timed region
 *   expect TEXT         the response must contain TEXT (checked every run)
 *   status N            expected exit status (default 0)
 *   runs N              this case's own run count
 *   bytes N             bytes the run handles, for a throughput column
 *
 * The cases run interleaved: in each round every case whose share is due
 * runs once, and a case with fewer runs has them spread evenly over the
 * rounds, so a change in the machine's load falls on all of them alike. A
 * run that exits with the wrong status, is killed, or misses its expected
 * text counts as a failure; any failure makes the exit status 1 so a broken
 * program is never reported as a fast one.
 *
 * Peak memory: a spawned child's ru_maxrss includes the image it had before
 * its exec, the driver's. So after the timed runs each case runs MEMRUNS
 * more times (untimed, checked like the others) through LAUNCHER, a small
 * static program that starts it and reports the child's own peak (see
 * launcher.c). Without -l the peak column is -1.
 *
 * Output, one tab-separated line per case:
 *   name runs failures median_us p99_us mean_us min_us max_us maxrss_kb out_bytes bytes
 * With RAWDIR: NAME.txt holds each case's samples in run order,
 * NAME.response.txt the time to the response's end in the same runs (spawn
 * to end of file on the program's standard output, which a program may
 * reach well before it exits), and launcher-kb.txt the launcher's own
 * peak, the floor of the memory figures.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "stats.h"

#define MAX_CASES 64
#define MAX_LIST 32

struct bench_case {
    char name[64];
    char *program;
    char *args[MAX_LIST + 2];
    int arg_count;
    char *dir;
    char *env[MAX_LIST + 1];
    int env_count;
    char *input;
    char *restore_src[MAX_LIST];
    char *restore_dst[MAX_LIST];
    int restore_count;
    char *removes[MAX_LIST];
    int remove_count;
    char *expect;
    int status;
    int runs;
    long long bytes;

    double *samples; /* microseconds */
    double *responses; /* microseconds to the end of standard output */
    double last_response;
    int done;
    int failures;
    long maxrss_kb;
    size_t out_bytes;
    char first_failure[256];
};

static struct bench_case cases[MAX_CASES];
static int case_count;

static void die(const char *what) {
    fprintf(stderr, "cgi_bench: %s: %s\n", what, strerror(errno));
    exit(2);
}

static char *dup_text(const char *text) {
    char *copy = strdup(text);
    if (!copy) die("strdup");
    return copy;
}

static void trim_end(char *line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
}

static void need_room(int count, const char *key, int line_no) {
    if (count >= MAX_LIST) {
        fprintf(stderr, "cgi_bench: line %d: too many '%s' entries\n", line_no, key);
        exit(2);
    }
}

static void read_cases(const char *path, int default_runs) {
    FILE *in = fopen(path, "r");
    if (!in) die(path);
    char line[8192];
    int line_no = 0;
    struct bench_case *c = NULL;
    while (fgets(line, sizeof line, in)) {
        ++line_no;
        trim_end(line);
        if (line[0] == '\0' || line[0] == '#') continue;
        char *value = strchr(line, ' ');
        if (value) *value++ = '\0';
        else value = line + strlen(line);
        if (strcmp(line, "case") == 0) {
            if (case_count == MAX_CASES) {
                fprintf(stderr, "cgi_bench: too many cases\n");
                exit(2);
            }
            c = &cases[case_count++];
            memset(c, 0, sizeof *c);
            snprintf(c->name, sizeof c->name, "%s", value);
            c->runs = default_runs;
            continue;
        }
        if (!c) {
            fprintf(stderr, "cgi_bench: line %d: '%s' before any case\n", line_no, line);
            exit(2);
        }
        if (strcmp(line, "program") == 0) {
            c->program = dup_text(value);
        } else if (strcmp(line, "arg") == 0) {
            need_room(c->arg_count, line, line_no);
            c->args[1 + c->arg_count++] = dup_text(value);
        } else if (strcmp(line, "dir") == 0) {
            c->dir = dup_text(value);
        } else if (strcmp(line, "env") == 0) {
            need_room(c->env_count, line, line_no);
            c->env[c->env_count++] = dup_text(value);
        } else if (strcmp(line, "stdin") == 0) {
            c->input = dup_text(value);
        } else if (strcmp(line, "restore") == 0) {
            need_room(c->restore_count, line, line_no);
            char *dst = strchr(value, ' ');
            if (!dst) {
                fprintf(stderr, "cgi_bench: line %d: restore needs SRC DST\n", line_no);
                exit(2);
            }
            *dst++ = '\0';
            c->restore_src[c->restore_count] = dup_text(value);
            c->restore_dst[c->restore_count] = dup_text(dst);
            c->restore_count++;
        } else if (strcmp(line, "remove") == 0) {
            need_room(c->remove_count, line, line_no);
            c->removes[c->remove_count++] = dup_text(value);
        } else if (strcmp(line, "expect") == 0) {
            c->expect = dup_text(value);
        } else if (strcmp(line, "status") == 0) {
            c->status = atoi(value);
        } else if (strcmp(line, "runs") == 0) {
            c->runs = atoi(value);
        } else if (strcmp(line, "bytes") == 0) {
            c->bytes = atoll(value);
        } else {
            fprintf(stderr, "cgi_bench: line %d: unknown key '%s'\n", line_no, line);
            exit(2);
        }
    }
    fclose(in);
    for (int i = 0; i < case_count; ++i) {
        c = &cases[i];
        if (!c->program) {
            fprintf(stderr, "cgi_bench: case %s has no program\n", c->name);
            exit(2);
        }
        c->args[0] = c->program;
        c->args[1 + c->arg_count] = NULL;
        c->env[c->env_count] = NULL;
        if (c->runs < 1) c->runs = 1;
        c->samples = calloc((size_t)c->runs, sizeof(double));
        c->responses = calloc((size_t)c->runs, sizeof(double));
        if (!c->samples || !c->responses) die("calloc");
    }
}

static void sync_dir_of(const char *path) {
    char dir[4096];
    snprintf(dir, sizeof dir, "%s", path);
    char *slash = strrchr(dir, '/');
    if (!slash) snprintf(dir, sizeof dir, ".");
    else if (slash == dir) slash[1] = '\0';
    else *slash = '\0';
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) die(dir);
    if (fsync(fd) != 0) die(dir);
    close(fd);
}

/* Writes SRC's bytes over OUT from its start, cuts OUT to their length
 * and syncs it: nothing is left for write-back to a timed run. */
static void copy_synced(const char *src, int out, const char *name) {
    int in = open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) die(src);
    static char block[65536];
    off_t at = 0;
    for (;;) {
        ssize_t got = read(in, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) continue;
            die(src);
        }
        if (got == 0) break;
        for (ssize_t put = 0; put < got;) {
            ssize_t n = pwrite(out, block + put, (size_t)(got - put), at + put);
            if (n < 0) {
                if (errno == EINTR) continue;
                die(name);
            }
            put += n;
        }
        at += got;
    }
    close(in);
    if (ftruncate(out, at) != 0) die(name);
    if (fsync(out) != 0) die(name);
}

/* DST becomes a new, synced file with SRC's bytes. Renaming replaces DST
 * itself, so a symbolic link there is replaced, never written through. */
static void replace_file(const char *src, const char *dst) {
    char scratch[4096];
    int needed = snprintf(scratch, sizeof scratch, "%s.bench-restore", dst);
    if (needed < 0 || (size_t)needed >= sizeof scratch) {
        fprintf(stderr, "cgi_bench: path too long: %s\n", dst);
        exit(2);
    }
    int out = open(scratch, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (out < 0 && errno == EEXIST) {
        /* Left by a driver that was stopped between open and rename. */
        struct stat st;
        if (lstat(scratch, &st) != 0 || !S_ISREG(st.st_mode)) die(scratch);
        if (unlink(scratch) != 0) die(scratch);
        out = open(scratch, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    if (out < 0) die(scratch);
    copy_synced(src, out, scratch);
    if (close(out) != 0) die(scratch);
    if (rename(scratch, dst) != 0) die(dst);
}

/* DST gets SRC's bytes and is synced before the run. A plain file there is
 * written over in place: replacing it would free a whole file's blocks
 * (and discard them, on a file system mounted with discard) just before
 * the timed run, a cost of the restore that grows with the board. Anything
 * else at DST, a symbolic link say, is replaced, never written through. */
static void restore_file(const char *src, const char *dst) {
    int out = open(dst, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (out >= 0 && (fstat(out, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(out);
        out = -1;
    }
    if (out < 0) {
        replace_file(src, dst);
        return;
    }
    copy_synced(src, out, dst);
    if (close(out) != 0) die(dst);
}

static void prepare(const struct bench_case *c) {
    for (int i = 0; i < c->restore_count; ++i) restore_file(c->restore_src[i], c->restore_dst[i]);
    for (int i = 0; i < c->remove_count; ++i)
        if (unlink(c->removes[i]) != 0 && errno != ENOENT) die(c->removes[i]);
    /* The renames and unlinks reach the journal now, not in a timed run. */
    for (int i = 0; i < c->restore_count; ++i) sync_dir_of(c->restore_dst[i]);
    for (int i = 0; i < c->remove_count; ++i) sync_dir_of(c->removes[i]);
}

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

/* Response of the current run; grown as needed, kept across runs. */
static char *response;
static size_t response_capacity;

static void note_failure(struct bench_case *c, const char *text) {
    if (c->failures++ == 0) snprintf(c->first_failure, sizeof c->first_failure, "%s", text);
}

static const char *launcher;
static long launcher_kb = -1;

enum run_mode { WARM_UP, TIMED, MEMORY };

static void read_all(int fd, size_t *used) {
    for (;;) {
        if (*used == response_capacity) {
            response_capacity = response_capacity ? response_capacity * 2 : 65536;
            response = realloc(response, response_capacity + 1);
            if (!response) die("realloc");
        }
        ssize_t got = read(fd, response + *used, response_capacity - *used);
        if (got < 0) {
            if (errno == EINTR) continue;
            die("read");
        }
        if (got == 0) break;
        *used += (size_t)got;
    }
}

/* One run: returns its wall time in microseconds (spawn to reaped). In
 * MEMORY mode the program runs under the launcher and its own peak is kept. */
static double run_once(struct bench_case *c, enum run_mode mode) {
    prepare(c);

    int out_pipe[2], report_pipe[2] = {-1, -1};
    if (pipe2(out_pipe, O_CLOEXEC) != 0) die("pipe");
    if (mode == MEMORY && pipe2(report_pipe, O_CLOEXEC) != 0) die("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (c->input) posix_spawn_file_actions_addopen(&actions, 0, c->input, O_RDONLY, 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    if (mode == MEMORY) posix_spawn_file_actions_adddup2(&actions, report_pipe[1], 3);
    if (c->dir) posix_spawn_file_actions_addchdir_np(&actions, c->dir);

    const char *path = c->program;
    char **args = c->args;
    char *launched[MAX_LIST + 3];
    if (mode == MEMORY) {
        launched[0] = (char *)launcher;
        for (int i = 0; i <= c->arg_count + 1; ++i) launched[i + 1] = c->args[i];
        path = launcher;
        args = launched;
    }

    double start = now_us();
    pid_t pid;
    int rc = posix_spawn(&pid, path, &actions, NULL, args, c->env);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    if (mode == MEMORY) close(report_pipe[1]);
    if (rc != 0) {
        errno = rc;
        die(path);
    }
    size_t used = 0;
    read_all(out_pipe[0], &used);
    c->last_response = now_us() - start;
    close(out_pipe[0]);
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) die("wait4");
    }
    double elapsed = now_us() - start;

    if (mode == MEMORY) {
        char report[96];
        ssize_t got;
        do got = read(report_pipe[0], report, sizeof report - 1);
        while (got < 0 && errno == EINTR);
        close(report_pipe[0]);
        long peak = -1, own = -1;
        int child = 0;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || got <= 0 ||
            (report[got] = '\0', sscanf(report, "%ld %ld %d", &peak, &own, &child) != 3)) {
            fprintf(stderr, "cgi_bench: %s: the launcher %s gave no report\n", c->name, launcher);
            exit(2);
        }
        status = child;
        if (peak > c->maxrss_kb) c->maxrss_kb = peak;
        if (own > launcher_kb) launcher_kb = own;
    }
    response[used] = '\0';

    if (mode == WARM_UP) return elapsed;
    c->out_bytes = used;
    char why[256];
    if (WIFSIGNALED(status)) {
        snprintf(why, sizeof why, "killed by signal %d", WTERMSIG(status));
        note_failure(c, why);
    } else if (WEXITSTATUS(status) != c->status) {
        snprintf(why, sizeof why, "exit status %d, wanted %d", WEXITSTATUS(status), c->status);
        note_failure(c, why);
    } else if (c->expect && !memmem(response, used, c->expect, strlen(c->expect))) {
        snprintf(why, sizeof why, "response (%zu bytes) lacks \"%.80s\"", used, c->expect);
        note_failure(c, why);
    }
    return elapsed;
}

static int compare_double(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static FILE *raw_file(const char *raw_dir, const char *name, const char *suffix) {
    char path[4096];
    int needed = snprintf(path, sizeof path, "%s/%s%s", raw_dir, name, suffix);
    if (needed < 0 || (size_t)needed >= sizeof path) {
        fprintf(stderr, "cgi_bench: raw directory name too long\n");
        exit(2);
    }
    FILE *file = fopen(path, "w");
    if (!file) die(path);
    return file;
}

static void usage(void) {
    fprintf(stderr, "usage: cgi_bench [-n RUNS] [-w WARMUP] [-r RAWDIR] [-l LAUNCHER [-m MEMRUNS]] CASEFILE\n");
    exit(2);
}

int main(int argc, char **argv) {
    int runs = 2000;
    int warmup = 20;
    int memory_runs = 3;
    const char *raw_dir = NULL;
    int opt;
    while ((opt = getopt(argc, argv, "n:w:r:l:m:")) != -1) {
        switch (opt) {
        case 'n': runs = atoi(optarg); break;
        case 'w': warmup = atoi(optarg); break;
        case 'r': raw_dir = optarg; break;
        case 'l': launcher = optarg; break;
        case 'm': memory_runs = atoi(optarg); break;
        default: usage();
        }
    }
    if (optind != argc - 1) usage();
    read_cases(argv[optind], runs);

    for (int w = 0; w < warmup; ++w)
        for (int i = 0; i < case_count; ++i) run_once(&cases[i], WARM_UP);

    /* Rounds as many as the largest count; a case with n of them runs in
     * round r when its n * r / rounds share is due. */
    int rounds = 0;
    for (int i = 0; i < case_count; ++i)
        if (cases[i].runs > rounds) rounds = cases[i].runs;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < case_count; ++i) {
            struct bench_case *c = &cases[i];
            if (c->done < c->runs && (long long)c->done * rounds <= (long long)r * c->runs) {
                c->samples[c->done] = run_once(c, TIMED);
                c->responses[c->done++] = c->last_response;
            }
        }
    }

    for (int i = 0; i < case_count; ++i) cases[i].maxrss_kb = -1;
    if (launcher)
        for (int m = 0; m < memory_runs; ++m)
            for (int i = 0; i < case_count; ++i) run_once(&cases[i], MEMORY);

    if (raw_dir && launcher) {
        FILE *floor_file = raw_file(raw_dir, "launcher-kb", ".txt");
        fprintf(floor_file, "%ld\n", launcher_kb);
        fclose(floor_file);
    }

    int failed = 0;
    for (int i = 0; i < case_count; ++i) {
        struct bench_case *c = &cases[i];
        if (raw_dir) {
            FILE *raw = raw_file(raw_dir, c->name, ".txt");
            for (int k = 0; k < c->runs; ++k) fprintf(raw, "%.1f\n", c->samples[k]);
            fclose(raw);
            raw = raw_file(raw_dir, c->name, ".response.txt");
            for (int k = 0; k < c->runs; ++k) fprintf(raw, "%.1f\n", c->responses[k]);
            fclose(raw);
        }
        qsort(c->samples, (size_t)c->runs, sizeof(double), compare_double);
        double sum = 0;
        for (int k = 0; k < c->runs; ++k) sum += c->samples[k];
        printf("%s\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%ld\t%zu\t%lld\n", c->name, c->runs, c->failures,
               median(c->samples, c->runs), percentile(c->samples, c->runs, 99), sum / c->runs, c->samples[0],
               c->samples[c->runs - 1], c->maxrss_kb, c->out_bytes, c->bytes);
        if (c->failures) {
            fprintf(stderr, "cgi_bench: %s: %d of %d runs failed; first: %s\n", c->name, c->failures,
                    c->runs + (launcher ? memory_runs : 0), c->first_failure);
            failed = 1;
        }
    }
    return failed;
}
