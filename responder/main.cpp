// gesipan-fcgi: the six pages as one FastCGI responder. A parent process
// holds the listening socket and keeps a pool of workers running, grown
// while all are busy; each worker answers one connection at a time through the same page
// functions as the CGI programs, from the same working directory (the one
// holding GuestBook.conf, read again for every request).
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "page/exchange.h"
#include "fcgi_worker.h"

namespace {

const char kUsage[] =
    "usage: gesipan-fcgi [--socket PATH | --listen 127.0.0.1:PORT] [--workers N] [--max-workers N]\n"
    "                    [--header-timeout S] [--body-timeout S] [--idle-timeout S] [--dir DIR]\n"
    "Without --socket or --listen the listening socket is standard input (as spawn-fcgi and\n"
    "socket activation hand it over). DIR (default: the working directory) holds GuestBook.conf.\n"
    "--workers: the workers kept free of slow clients (default: the cores); --max-workers: at most\n"
    "this many in all (default: 32, or --workers if more). A request's header records must arrive\n"
    "within --header-timeout seconds (5), the whole request within --body-timeout (30); a kept\n"
    "connection with no request, and a spare worker, wait at most --idle-timeout (10).\n";

struct Options {
    std::string socketPath;
    std::string listenAddress;
    std::string dir;
    int workers = 0;
    int maxWorkers = 0;
    int headerSeconds = 5;
    int bodySeconds = 30;
    int idleSeconds = 10;
};

// A whole decimal number from `low` to `high`.
bool numberIn(const std::string& text, int low, int high, int* value) {
    char* end = nullptr;
    errno = 0;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || number < low || number > high) return false;
    *value = static_cast<int>(number);
    return true;
}

bool parseOptions(int argc, char** argv, Options* options) {
    const struct {
        const char* name;
        int* value;
        int low;
        int high;
    } numbers[] = {{"--workers", &options->workers, 1, 256},
                   {"--max-workers", &options->maxWorkers, 1, 256},
                   {"--header-timeout", &options->headerSeconds, 1, 3600},
                   {"--body-timeout", &options->bodySeconds, 1, 3600},
                   {"--idle-timeout", &options->idleSeconds, 1, 3600}};
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        bool known = true;
        if (name == "--socket") {
            options->socketPath = value;
        } else if (name == "--listen") {
            options->listenAddress = value;
        } else if (name == "--dir") {
            options->dir = value;
        } else {
            known = false;
            for (const auto& number : numbers) {
                if (name != number.name) continue;
                if (!numberIn(value, number.low, number.high, number.value)) return false;
                known = true;
            }
        }
        if (!known) return false;
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
    int slot = 0;
    std::time_t started = 0;
    bool retiring = false;  // told to stop while idle: the pool shrinks
};

// The workers and what they share: the pool starts with `base`, grows by
// one while fewer than `base` are free of clients that hold them, up to
// `most`, and stops a spare one that waited longer than the idle time, so
// a slow client holds one worker and never the site.
class Pool {
public:
    Pool(int listenFd, const std::optional<std::time_t>& clock, WorkerSettings settings, int base, int most)
        : listenFd_(listenFd), clock_(clock), settings_(settings), base_(base), most_(most) {
        void* shared = ::mmap(nullptr, sizeof(WorkerSlot) * static_cast<std::size_t>(most), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) return;
        settings_.slots = static_cast<WorkerSlot*>(shared);
        for (int k = 0; k < most; ++k) new (&settings_.slots[k]) WorkerSlot();
        settings_.slotCount = most;
        int ends[2];
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) return;
        wakeRead_ = ends[0];
        settings_.wakeFd = ends[1];
    }

    bool ready() const { return settings_.slots && wakeRead_ >= 0; }
    int wakeFd() const { return wakeRead_; }
    bool spares() const { return static_cast<int>(workers_.size()) > base_; }

    // `closeInChild`: the parent's own descriptors, which a worker drops.
    void start(int closeInChild) {
        std::vector<bool> used(static_cast<std::size_t>(most_), false);
        for (const Worker& worker : workers_) used[static_cast<std::size_t>(worker.slot)] = true;
        int slot = 0;
        while (slot < most_ && used[static_cast<std::size_t>(slot)]) ++slot;
        if (slot == most_) return;
        settings_.slots[slot].state.store(WorkerSlot::kStarting);
        settings_.slot = slot;
        Worker worker;
        worker.slot = slot;
        worker.started = std::time(nullptr);
        worker.pid = startWorker(closeInChild);
        if (worker.pid < 0) {
            settings_.slots[slot].state.store(WorkerSlot::kFree);
            return;
        }
        workers_.push_back(worker);
    }

    // Whether fewer than `base` workers are free of clients that hold them
    // (with room for another).
    bool shortOfFree() const {
        if (static_cast<int>(workers_.size()) >= most_) return false;
        int free = 0;
        for (const Worker& worker : workers_) {
            if (!worker.retiring && freeToAnswer(settings_.slots[worker.slot].state.load())) ++free;
        }
        return free < base_;
    }

    // Stops one spare worker that has waited longer than the idle time.
    void shrink() {
        int staying = 0;
        for (const Worker& worker : workers_) staying += worker.retiring ? 0 : 1;
        if (staying <= base_) return;
        const long long now = monotonicSeconds();
        for (Worker& worker : workers_) {
            WorkerSlot& slot = settings_.slots[worker.slot];
            if (worker.retiring || slot.state.load() != WorkerSlot::kIdle ||
                now - slot.since.load() < settings_.idleSeconds) {
                continue;
            }
            worker.retiring = true;
            ::kill(worker.pid, SIGTERM);
            return;
        }
    }

    // Takes every worker that has ended; one that did not retire is
    // replaced, a second later when it ended within a second of its start,
    // so a fault met at once does not become a loop of forks.
    void reap(int closeInChild) {
        int status = 0;
        pid_t pid;
        while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
            for (std::size_t k = 0; k < workers_.size(); ++k) {
                if (workers_[k].pid != pid) continue;
                Worker ended = workers_[k];
                workers_.erase(workers_.begin() + static_cast<long>(k));
                settings_.slots[ended.slot].state.store(WorkerSlot::kFree);
                if (ended.retiring && WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
                reportDeath(pid, status);
                if (std::time(nullptr) - ended.started < 1) ::sleep(1);
                start(closeInChild);
                break;
            }
        }
    }

    // Stops every worker: each finishes the request it is answering first.
    // True when every one ended cleanly.
    bool stop() {
        for (const Worker& worker : workers_) ::kill(worker.pid, SIGTERM);
        bool clean = true;
        for (const Worker& worker : workers_) {
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
        workers_.clear();
        return clean;
    }

private:
    pid_t startWorker(int closeInChild) {
        const pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid != 0) return pid;
        // A worker whose parent is gone stops too.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) std::_Exit(0);
        ::close(closeInChild);
        ::close(wakeRead_);
        sigset_t child;
        sigemptyset(&child);
        sigaddset(&child, SIGCHLD);
        sigprocmask(SIG_UNBLOCK, &child, nullptr);
        std::exit(serveRequests(listenFd_, clock_, settings_));
    }

    static void reportDeath(pid_t pid, int status) {
        if (WIFSIGNALED(status)) {
            std::fprintf(stderr, "gesipan-fcgi: worker %d killed by signal %d; starting another\n",
                         static_cast<int>(pid), WTERMSIG(status));
        } else {
            std::fprintf(stderr, "gesipan-fcgi: worker %d ended with status %d; starting another\n",
                         static_cast<int>(pid), WEXITSTATUS(status));
        }
    }

    int listenFd_;
    const std::optional<std::time_t>& clock_;
    WorkerSettings settings_;
    int base_;
    int most_;
    int wakeRead_ = -1;
    std::vector<Worker> workers_;
};

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
    // The parent takes its signals one at a time, in order, from a signalfd.
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&handled, signal);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    int signals = ::signalfd(-1, &handled, SFD_CLOEXEC);
    if (signals < 0) {
        fail("cannot wait for", "signals");
        return 2;
    }

    int listenFd = openListener(options);
    if (listenFd < 0) return 2;
    const std::optional<std::time_t> clock = fixedClock();
    long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const int base = options.workers > 0 ? options.workers : (cores > 0 ? static_cast<int>(cores) : 1);
    const int most = std::max(base, options.maxWorkers > 0 ? options.maxWorkers : 32);
    WorkerSettings settings;
    settings.headerSeconds = options.headerSeconds;
    settings.bodySeconds = options.bodySeconds;
    settings.idleSeconds = options.idleSeconds;
    settings.limits.maxConnections = most;
    settings.base = base;
    Pool pool(listenFd, clock, settings, base, most);
    if (!pool.ready()) {
        fail("cannot set up", "the workers' shared state");
        return 2;
    }
    for (int k = 0; k < base; ++k) pool.start(signals);
    // A worker held for a moment (a request's bytes a little late) is no
    // slow client: the pool grows for one held 50 ms on.
    constexpr long long kHeldFor = 50;
    long long shortSince = -1;
    for (;;) {
        pollfd waits[2] = {{signals, POLLIN, 0}, {pool.wakeFd(), POLLIN, 0}};
        // Spare workers are looked at once a second, to stop the idle ones.
        const int timeout = shortSince >= 0 ? static_cast<int>(kHeldFor) : pool.spares() ? 1000 : -1;
        if (::poll(waits, 2, timeout) < 0 && errno != EINTR) {
            fail("cannot wait for", "signals");
            break;
        }
        // One signal per round; the next poll sees any left.
        signalfd_siginfo info;
        if ((waits[0].revents & POLLIN) && ::read(signals, &info, sizeof info) == sizeof info &&
            info.ssi_signo != SIGCHLD) {
            break;
        }
        char drained[64];
        while ((waits[1].revents & POLLIN) && ::read(pool.wakeFd(), drained, sizeof drained) > 0) {
        }
        pool.reap(signals);
        if (!pool.shortOfFree()) {
            shortSince = -1;
        } else if (shortSince < 0) {
            shortSince = monotonicMillis();
        } else if (monotonicMillis() - shortSince >= kHeldFor) {
            pool.start(signals);
            shortSince = -1;
        }
        pool.shrink();
    }
    bool clean = pool.stop();
    // The socket file is this run's own.
    if (!options.socketPath.empty()) ::unlink(options.socketPath.c_str());
    return clean ? 0 : 1;
}
