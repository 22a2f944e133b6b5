/* Runs programs as CGI processes many times and reports wall time and peak
 * memory per case.
 *
 *   cgi_bench [-n RUNS] [-w WARMUP] [-r RAWDIR] CASEFILE
 *
 * The case file holds blocks of "key value" lines, each block opened by
 * "case NAME":
 *   program PATH        executable to start
 *   arg TEXT            one more argument (repeatable)
 *   dir PATH            working directory of the run
 *   env NAME=VALUE      environment entry (repeatable); nothing else is passed
 *   stdin PATH          file given as standard input
 *   restore SRC DST     copied before every run, outside the timed region
 *   remove PATH         removed before every run, outside the timed region
 *   expect TEXT         the response must contain TEXT (checked every run)
 *   status N            expected exit status (default 0)
 *   runs N              this case's own run count
 *   bytes N             bytes the run handles, for a throughput column
 *
 * The cases run interleaved, one run of each in turn, so that a change in
 * the machine's load falls on all of them alike. A run that exits with the
 * wrong status, is killed, or misses its expected text counts as a failure;
 * any failure makes the exit status 1 so a broken program is never reported
 * as a fast one.
 *
 * Output, one tab-separated line per case:
 *   name runs failures median_us p99_us mean_us min_us max_us maxrss_kb out_bytes bytes
 * The driver is best linked statically: its own resident set is the floor
 * of every peak memory figure (see driver-maxrss.txt in RAWDIR).
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
        if (!c->samples) die("calloc");
    }
}

static void copy_file(const char *src, const char *dst) {
    int in = open(src, O_RDONLY);
    if (in < 0) die(src);
    int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) die(dst);
    char block[65536];
    for (;;) {
        ssize_t got = read(in, block, sizeof block);
        if (got < 0) {
            if (errno == EINTR) continue;
            die(src);
        }
        if (got == 0) break;
        for (ssize_t put = 0; put < got;) {
            ssize_t n = write(out, block + put, (size_t)(got - put));
            if (n < 0) {
                if (errno == EINTR) continue;
                die(dst);
            }
            put += n;
        }
    }
    close(in);
    if (close(out) != 0) die(dst);
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

/* One run: returns its wall time in microseconds (spawn to reaped). */
static double run_once(struct bench_case *c, int record) {
    for (int i = 0; i < c->restore_count; ++i) copy_file(c->restore_src[i], c->restore_dst[i]);
    for (int i = 0; i < c->remove_count; ++i) unlink(c->removes[i]);

    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) die("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (c->input) posix_spawn_file_actions_addopen(&actions, 0, c->input, O_RDONLY, 0);
    else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    if (c->dir) posix_spawn_file_actions_addchdir_np(&actions, c->dir);

    double start = now_us();
    pid_t pid;
    int rc = posix_spawn(&pid, c->program, &actions, NULL, c->args, c->env);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    if (rc != 0) {
        errno = rc;
        die(c->program);
    }
    size_t used = 0;
    for (;;) {
        if (used == response_capacity) {
            response_capacity = response_capacity ? response_capacity * 2 : 65536;
            response = realloc(response, response_capacity + 1);
            if (!response) die("realloc");
        }
        ssize_t got = read(out_pipe[0], response + used, response_capacity - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            die("read");
        }
        if (got == 0) break;
        used += (size_t)got;
    }
    close(out_pipe[0]);
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) die("wait4");
    }
    double elapsed = now_us() - start;
    response[used] = '\0';

    if (!record) return elapsed;
    if (usage.ru_maxrss > c->maxrss_kb) c->maxrss_kb = usage.ru_maxrss;
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

int main(int argc, char **argv) {
    int runs = 2000;
    int warmup = 20;
    const char *raw_dir = NULL;
    int opt;
    while ((opt = getopt(argc, argv, "n:w:r:")) != -1) {
        switch (opt) {
        case 'n': runs = atoi(optarg); break;
        case 'w': warmup = atoi(optarg); break;
        case 'r': raw_dir = optarg; break;
        default:
            fprintf(stderr, "usage: cgi_bench [-n RUNS] [-w WARMUP] [-r RAWDIR] CASEFILE\n");
            return 2;
        }
    }
    if (optind != argc - 1) {
        fprintf(stderr, "usage: cgi_bench [-n RUNS] [-w WARMUP] [-r RAWDIR] CASEFILE\n");
        return 2;
    }
    read_cases(argv[optind], runs);

    for (int w = 0; w < warmup; ++w)
        for (int i = 0; i < case_count; ++i) run_once(&cases[i], 0);

    /* Linux carries the spawning process's peak into the child's
     * ru_maxrss, so the driver's own peak is the floor of every figure. */
    long own_peak_kb = -1;
    FILE *status = fopen("/proc/self/status", "r");
    if (status) {
        char line[256];
        while (fgets(line, sizeof line, status))
            if (sscanf(line, "VmHWM: %ld", &own_peak_kb) == 1) break;
        fclose(status);
    }

    /* Round robin until every case has its own count. */
    for (int left = 1; left;) {
        left = 0;
        for (int i = 0; i < case_count; ++i) {
            struct bench_case *c = &cases[i];
            if (c->done == c->runs) continue;
            c->samples[c->done++] = run_once(c, 1);
            if (c->done < c->runs) left = 1;
        }
    }

    if (raw_dir) {
        char path[4096];
        int needed = snprintf(path, sizeof path, "%s/driver-maxrss.txt", raw_dir);
        if (needed < 0 || (size_t)needed >= sizeof path) {
            fprintf(stderr, "cgi_bench: raw directory name too long\n");
            return 2;
        }
        FILE *floor_file = fopen(path, "w");
        if (!floor_file) die(path);
        fprintf(floor_file, "%ld\n", own_peak_kb);
        fclose(floor_file);
    }

    int failed = 0;
    for (int i = 0; i < case_count; ++i) {
        struct bench_case *c = &cases[i];
        if (raw_dir) {
            char path[4096];
            int needed = snprintf(path, sizeof path, "%s/%s.txt", raw_dir, c->name);
            if (needed < 0 || (size_t)needed >= sizeof path) {
                fprintf(stderr, "cgi_bench: raw directory name too long\n");
                return 2;
            }
            FILE *raw = fopen(path, "w");
            if (!raw) die(path);
            for (int k = 0; k < c->runs; ++k) fprintf(raw, "%.1f\n", c->samples[k]);
            fclose(raw);
        }
        qsort(c->samples, (size_t)c->runs, sizeof(double), compare_double);
        double sum = 0;
        for (int k = 0; k < c->runs; ++k) sum += c->samples[k];
        printf("%s\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%ld\t%zu\t%lld\n", c->name, c->runs, c->failures,
               median(c->samples, c->runs), percentile(c->samples, c->runs, 99), sum / c->runs, c->samples[0],
               c->samples[c->runs - 1], c->maxrss_kb, c->out_bytes, c->bytes);
        if (c->failures) {
            fprintf(stderr, "cgi_bench: %s: %d of %d runs failed; first: %s\n", c->name, c->failures, c->runs,
                    c->first_failure);
            failed = 1;
        }
    }
    return failed;
}
