// gesipan-fcgi: the six pages as one FastCGI responder. A parent process
// holds the listening socket and keeps a fixed number of workers running;
// each worker answers one request at a time through the same page
// functions as the CGI programs, from the same working directory (the one
// holding GuestBook.conf, read again for every request).
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "page/exchange.h"
#include "fcgi_worker.h"

namespace {

const char kUsage[] =
    "usage: gesipan-fcgi [--socket PATH | --listen 127.0.0.1:PORT] [--workers N] [--dir DIR]\n"
    "Without --socket or --listen the listening socket is standard input (as spawn-fcgi and\n"
    "socket activation hand it over). DIR (default: the working directory) holds GuestBook.conf.\n";

struct Options {
    std::string socketPath;
    std::string listenAddress;
    std::string dir;
    int workers = 0;
};

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (name == "--socket") {
            options->socketPath = value;
        } else if (name == "--listen") {
            options->listenAddress = value;
        } else if (name == "--dir") {
            options->dir = value;
        } else if (name == "--workers") {
            options->workers = std::atoi(value.c_str());
            if (options->workers < 1 || options->workers > 256) return false;
        } else {
            return false;
        }
    }
    return options->socketPath.empty() || options->listenAddress.empty();
}

int fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "gesipan-fcgi: %s %s: %s\n", what, detail.c_str(), std::strerror(errno));
    return -1;
}

// A Unix socket at a path nothing holds yet: an existing file there is
// never removed or replaced.
int listenOnPath(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return fail("cannot listen on", path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail("cannot listen on", path);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        fail("cannot listen on", path);
        ::close(fd);
        return -1;
    }
    return fd;
}

// FastCGI has no authentication of its own: only loopback addresses.
int listenOnLoopback(const std::string& hostPort) {
    std::size_t colon = hostPort.rfind(':');
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    int port = colon == std::string::npos ? 0 : std::atoi(hostPort.c_str() + colon + 1);
    std::string host = colon == std::string::npos ? "" : hostPort.substr(0, colon);
    if (port < 1 || port > 65535 || ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1 ||
        (ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        std::fprintf(stderr, "gesipan-fcgi: --listen takes a loopback address and a port, as 127.0.0.1:9000\n");
        return -1;
    }
    address.sin_port = htons(static_cast<uint16_t>(port));
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        fail("cannot listen on", hostPort);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

// The socket handed over as standard input, as FastCGI starts a responder.
int inheritedSocket() {
    int listening = 0;
    socklen_t length = sizeof listening;
    if (::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) {
        std::fprintf(stderr, "gesipan-fcgi: standard input is no listening socket\n%s", kUsage);
        return -1;
    }
    return STDIN_FILENO;
}

int openListener(const Options& options) {
    int fd = !options.socketPath.empty()      ? listenOnPath(options.socketPath)
             : !options.listenAddress.empty() ? listenOnLoopback(options.listenAddress)
                                              : inheritedSocket();
    // Workers share the socket and wait for it themselves; the one that
    // loses a connection to another must not block in accept.
    if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
        fail("cannot use", "the listening socket");
        return -1;
    }
    return fd;
}

struct Worker {
    pid_t pid = -1;
    std::time_t started = 0;
};

pid_t startWorker(int listenFd, const std::optional<std::time_t>& clock, pid_t parent) {
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    // A worker whose parent is gone stops too.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) std::_Exit(0);
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    sigprocmask(SIG_UNBLOCK, &child, nullptr);
    std::exit(serveRequests(listenFd, clock));
}

void reportDeath(pid_t pid, int status) {
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "gesipan-fcgi: worker %d killed by signal %d; starting another\n", static_cast<int>(pid),
                     WTERMSIG(status));
    } else {
        std::fprintf(stderr, "gesipan-fcgi: worker %d ended with status %d; starting another\n",
                     static_cast<int>(pid), WEXITSTATUS(status));
    }
}

// Replaces every worker that has ended. One that ended within a second
// of its start is replaced a second later, so a fault met at once does
// not become a loop of forks.
void replaceDeadWorkers(std::vector<Worker>& workers, int listenFd, const std::optional<std::time_t>& clock) {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        for (Worker& worker : workers) {
            if (worker.pid != pid) continue;
            reportDeath(pid, status);
            if (std::time(nullptr) - worker.started < 1) ::sleep(1);
            worker.pid = startWorker(listenFd, clock, ::getpid());
            worker.started = std::time(nullptr);
        }
    }
}

// Stops every worker: each finishes the request it is answering first.
// True when every one ended cleanly.
bool stopWorkers(std::vector<Worker>& workers) {
    for (const Worker& worker : workers) {
        if (worker.pid > 0) ::kill(worker.pid, SIGTERM);
    }
    bool clean = true;
    for (const Worker& worker : workers) {
        int status = 0;
        pid_t ended;
        while ((ended = ::waitpid(worker.pid, &status, 0)) < 0 && errno == EINTR) {
        }
        if (ended == worker.pid && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
            std::fprintf(stderr, "gesipan-fcgi: worker %d did not stop cleanly (wait status %d)\n",
                         static_cast<int>(worker.pid), status);
            clean = false;
        }
    }
    return clean;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!options.dir.empty() && ::chdir(options.dir.c_str()) != 0) {
        fail("cannot enter", options.dir);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // The parent takes its signals one at a time, in order, with sigwait.
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&handled, signal);
    sigprocmask(SIG_BLOCK, &handled, nullptr);

    int listenFd = openListener(options);
    if (listenFd < 0) return 2;
    const std::optional<std::time_t> clock = fixedClock();
    long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    int count = options.workers > 0 ? options.workers : (cores > 0 ? static_cast<int>(cores) : 1);
    std::vector<Worker> workers(static_cast<std::size_t>(count));
    for (Worker& worker : workers) {
        worker.pid = startWorker(listenFd, clock, ::getpid());
        worker.started = std::time(nullptr);
    }
    for (;;) {
        int signal = 0;
        if (sigwait(&handled, &signal) != 0) continue;
        if (signal == SIGCHLD) {
            replaceDeadWorkers(workers, listenFd, clock);
            continue;
        }
        bool clean = stopWorkers(workers);
        // The socket file is this run's own.
        if (!options.socketPath.empty()) ::unlink(options.socketPath.c_str());
        return clean ? 0 : 1;
    }
}
