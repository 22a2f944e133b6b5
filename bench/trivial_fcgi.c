/* The ceiling of the FastCGI design: a responder on the same library as
 * ours that answers every request with one fixed response, read once at
 * start, and does nothing else. Started the FastCGI way (the listening
 * socket as standard input), it forks WORKERS processes that each serve
 * one request at a time, as ours does.
 *   trivial_fcgi RESPONSE_FILE [WORKERS]
 */
#include <fcgiapp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

static char *read_whole(const char *path, long *size) {
  FILE *file = fopen(path, "rb");
  if (!file) return NULL;
  char *data = NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (*size = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
    data = malloc((size_t)*size);
    if (data && fread(data, 1, (size_t)*size, file) != (size_t)*size) {
      free(data);
      data = NULL;
    }
  }
  fclose(file);
  return data;
}

static void serve(const char *response, long size) {
  FCGX_Request request;
  if (FCGX_InitRequest(&request, 0, 0) != 0) exit(1);
  while (FCGX_Accept_r(&request) >= 0) {
    FCGX_PutStr(response, (int)size, request.out);
    FCGX_Finish_r(&request);
  }
  exit(0);
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: trivial_fcgi RESPONSE_FILE [WORKERS]\n");
    return 2;
  }
  long size = 0;
  char *response = read_whole(argv[1], &size);
  if (!response) {
    perror(argv[1]);
    return 1;
  }
  long workers = argc > 2 ? strtol(argv[2], NULL, 10) : sysconf(_SC_NPROCESSORS_ONLN);
  if (workers < 1) workers = 1;
  if (FCGX_Init() != 0) return 1;
  /* Blocked before forking; the workers unblock it and die of it. */
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, NULL);
  pid_t *pids = calloc((size_t)workers, sizeof *pids);
  if (!pids) return 1;
  for (long i = 0; i < workers; i++) {
    pids[i] = fork();
    if (pids[i] < 0) return 1;
    if (pids[i] == 0) {
      sigprocmask(SIG_UNBLOCK, &stop, NULL);
      serve(response, size);
    }
  }
  int signal_number;
  sigwait(&stop, &signal_number);
  for (long i = 0; i < workers; i++) kill(pids[i], SIGTERM);
  while (wait(NULL) > 0) {}
  return 0;
}
