#include "fcgi_worker.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dispatch.h"
#include "events/event_log.h"
#include "page/exchange.h"

namespace {

// Set by the stop signals.
volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

constexpr timespec kRetryPause = {0, 100 * 1000 * 1000};

// Every connection the responder gives up on says why, in one line, and
// is an event of the owner's log when the site keeps one.
void reportDroppedConnection(const char* reason, const SiteConfig& site) {
    std::fprintf(stderr, "gesipan-fcgi: connection dropped: %s\n", reason);
    logEvent(site.eventLog, Event{std::time(nullptr), "dropped", 0, 0, "", reason});
}

void answer(fcgi::Connection& connection, const std::optional<std::time_t>& clock, SiteConfigCache& site,
            Response& response) {
    fcgi::Request& fcgiRequest = connection.request();
    int status = 1;
    std::FILE* body = fcgiRequest.openBody();
    try {
        if (!body) throw std::bad_alloc();
        Request request = requestFromParams([&fcgiRequest](const char* name) { return fcgiRequest.param(name); },
                                            body, requestTime(clock));
        const PageProgram* page = pageForScript(request.scriptName);
        status = page ? servePage(*page, request, site, response) : answerUnknownScript(response);
    } catch (const std::bad_alloc&) {
        response.markOutOfMemory();
        status = 1;
    }
    if (body) std::fclose(body);
    const bool short_ = response.outOfMemory();
    connection.answer(response.bytes(), short_ ? Response::kOutOfMemory : "",
                      short_ ? sizeof Response::kOutOfMemory - 1 : 0, status);
}

void handleStopSignals() {
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a wait for a request must end
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

class Worker {
public:
    Worker(const std::optional<std::time_t>& clock, const WorkerSettings& settings, const sigset_t& waiting)
        : clock_(clock), settings_(settings), waiting_(waiting) {}

    void mark(int state) {
        if (!settings_.slots || state == state_) return;
        state_ = state;
        WorkerSlot& mine = settings_.slots[settings_.slot];
        if (state == WorkerSlot::kIdle) mine.since.store(monotonicSeconds(), std::memory_order_relaxed);
        mine.state.store(state, std::memory_order_release);
        if (state != WorkerSlot::kHeld || settings_.wakeFd < 0) return;
        int free = 0;
        for (int k = 0; k < settings_.slotCount; ++k) {
            free += freeToAnswer(settings_.slots[k].state.load(std::memory_order_acquire)) ? 1 : 0;
        }
        if (free >= settings_.base) return;
        // The parent may start another.
        char byte = 1;
        if (::write(settings_.wakeFd, &byte, 1) < 0) {
            // Full: the parent has been woken already.
        }
    }

    void serve(int fd);

private:
    // Sends what is pending by `deadline`; false when it cannot.
    bool send(int fd, std::string& bytes, long long deadline);
    void drop(int fd, const char* reason) {
        reportDroppedConnection(reason, site_.current());
        ::close(fd);
    }

    const std::optional<std::time_t>& clock_;
    // GuestBook.conf, read again only once it has changed: the one thing
    // besides its connection that a worker keeps between requests.
    SiteConfigCache site_;
    const WorkerSettings& settings_;
    const sigset_t& waiting_;
    int state_ = WorkerSlot::kStarting;
};

bool Worker::send(int fd, std::string& bytes, long long deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t written = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        long long left = deadline - monotonicMillis();
        if (left <= 0) return false;
        mark(WorkerSlot::kHeld);
        pollfd wait = {fd, POLLOUT, 0};
        ::poll(&wait, 1, static_cast<int>(left));
    }
    bytes.clear();
    mark(WorkerSlot::kServing);
    return true;
}

void Worker::serve(int fd) {
    fcgi::Connection connection(settings_.limits);
    long long started = monotonicMillis();  // the first byte of the request being read
    bool fresh = true;                       // no request answered on it yet
    char chunk[65536];
    for (;;) {
        if (!connection.pending().empty() &&
            !send(fd, connection.pending(), monotonicMillis() + settings_.bodySeconds * 1000LL)) {
            drop(fd, "the client took no answer");
            return;
        }
        switch (connection.phase()) {
            case fcgi::Connection::Phase::Failed: drop(fd, connection.failure()); return;
            case fcgi::Connection::Phase::Closing: ::close(fd); return;
            case fcgi::Connection::Phase::Whole: {
                // The response's deferred work (a committed change carried
                // out, its lock let go) runs once the server has the whole
                // page, and dies with the request.
                Response response;
                const bool keep = connection.request().keepConnection;
                const char* failed = nullptr;
                try {
                    answer(connection, clock_, site_, response);
                    if (!send(fd, connection.pending(), monotonicMillis() + settings_.bodySeconds * 1000LL)) {
                        failed = "the client took no answer";
                    }
                } catch (const std::bad_alloc&) {
                    failed = "out of memory for the answer";
                }
                if (failed || !keep) {
                    if (failed) {
                        drop(fd, failed);
                    } else {
                        ::close(fd);
                    }
                    response.runAfterSending();
                    return;
                }
                response.runAfterSending();
                connection.next();
                fresh = false;
                started = monotonicMillis();
                continue;
            }
            default: break;
        }
        // A connection with no request begun is only waiting: a stop ends it.
        if (!connection.started()) {
            if (stopRequested) {
                drop(fd, "stopping, and it waited for a request");
                return;
            }
        }
        const long long limit = !connection.started() && !fresh ? settings_.idleSeconds * 1000LL
                                : !connection.headerWhole()      ? settings_.headerSeconds * 1000LL
                                                                 : settings_.bodySeconds * 1000LL;
        const long long left = started + limit - monotonicMillis();
        if (left <= 0) {
            drop(fd, !connection.started() && !fresh ? "no request on a kept connection in time"
                     : !connection.headerWhole()      ? "the request's header records not in time"
                                                      : "the request's body not in time");
            return;
        }
        // What is there already is read without a wait: a server sends a
        // request at once, and only a client that makes the worker wait
        // holds it.
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            mark(WorkerSlot::kHeld);
            pollfd wait = {fd, POLLIN, 0};
            const timespec timeout = {static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
            // Stop signals come in only while waiting; a request begun is
            // still read to its end (or its deadline).
            if (::ppoll(&wait, 1, &timeout, &waiting_) < 0 && errno != EINTR) {
                drop(fd, "poll failed");
                return;
            }
            continue;
        }
        mark(WorkerSlot::kServing);
        if (got <= 0) {
            if (connection.started()) {
                drop(fd, "closed by the client before the request was whole");
            } else {
                ::close(fd);
            }
            return;
        }
        if (!connection.started() && !fresh) started = monotonicMillis();
        try {
            connection.receive(chunk, static_cast<std::size_t>(got));
        } catch (const std::bad_alloc&) {
            drop(fd, "out of memory while reading the request");
            return;
        }
    }
}

}  // namespace

long long monotonicMillis() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long monotonicSeconds() { return monotonicMillis() / 1000; }

int serveRequests(int listenFd, const std::optional<std::time_t>& clock, const WorkerSettings& settings) {
    handleStopSignals();
    // The stop signals stay blocked while a request is served and come in
    // only while waiting, so none cuts a request short.
    sigset_t waiting;
    sigprocmask(SIG_SETMASK, nullptr, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    Worker worker(clock, settings, waiting);
    while (!stopRequested) {
        worker.mark(WorkerSlot::kIdle);
        pollfd wait = {listenFd, POLLIN, 0};
        if (ppoll(&wait, 1, nullptr, &waiting) < 0) {
            if (errno == EINTR) continue;
            std::perror("gesipan-fcgi: poll");
            return 1;
        }
        // Another worker may have taken the connection: then this accept
        // finds none and the worker waits again.
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or the like: give it a moment, not a spin.
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                ppoll(nullptr, 0, &kRetryPause, &waiting);
            }
            continue;
        }
        worker.mark(WorkerSlot::kServing);
        worker.serve(fd);
    }
    return 0;
}
