#include "fcgi_worker.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <new>
#include <poll.h>

#include <fcgiapp.h>

#include "dispatch.h"
#include "page/exchange.h"

namespace {

// Set by the stop signals.
volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

constexpr timespec kRetryPause = {0, 100 * 1000 * 1000};

// The request's body stream as a stdio stream, so that the pages decode a
// form the same way whichever way it came.
ssize_t readBody(void* cookie, char* buffer, std::size_t size) {
    int wanted = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    int got = FCGX_GetStr(buffer, wanted, static_cast<FCGX_Stream*>(cookie));
    return got < 0 ? -1 : got;
}

std::FILE* openBody(FCGX_Stream* in) {
    cookie_io_functions_t functions = {readBody, nullptr, nullptr, nullptr};
    return fopencookie(in, "r", functions);
}

void sendResponse(const Response& response, int status, FCGX_Stream* out) {
    const std::string& bytes = response.bytes();
    if (!bytes.empty()) FCGX_PutStr(bytes.data(), static_cast<int>(bytes.size()), out);
    if (response.outOfMemory()) FCGX_PutStr(Response::kOutOfMemory, sizeof Response::kOutOfMemory - 1, out);
    FCGX_SetExitStatus(status, out);
}

void answer(FCGX_Request& fcgi, const std::optional<std::time_t>& clock, SiteConfigCache& site, Response& response) {
    int status = 1;
    std::FILE* body = openBody(fcgi.in);
    try {
        if (!body) throw std::bad_alloc();
        Request request = requestFromParams([&fcgi](const char* name) { return FCGX_GetParam(name, fcgi.envp); }, body,
                                            requestTime(clock));
        const PageProgram* page = pageForScript(request.scriptName);
        status = page ? servePage(*page, request, site, response) : answerUnknownScript(response);
    } catch (const std::bad_alloc&) {
        response.markOutOfMemory();
        status = 1;
    }
    if (body) std::fclose(body);
    sendResponse(response, status, fcgi.out);
}

void handleStopSignals() {
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a wait for a request must end
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int serveRequests(int listenFd, const std::optional<std::time_t>& clock) {
    handleStopSignals();
    // The stop signals stay blocked while a request is served and come in
    // only while waiting for the next one, so none cuts a request short.
    sigset_t waiting;
    sigprocmask(SIG_SETMASK, nullptr, &waiting);
    sigdelset(&waiting, SIGTERM);
    sigdelset(&waiting, SIGINT);
    if (FCGX_Init() != 0) return 1;
    FCGX_Request fcgi;
    if (FCGX_InitRequest(&fcgi, listenFd, 0) != 0) return 1;
    // GuestBook.conf, read again only once it has changed: the one thing
    // besides its connection that a worker keeps between requests.
    SiteConfigCache site;
    while (!stopRequested) {
        // A connection the server keeps open brings the next request on it.
        pollfd wait = {fcgi.ipcFd >= 0 ? fcgi.ipcFd : listenFd, POLLIN, 0};
        if (ppoll(&wait, 1, nullptr, &waiting) < 0) {
            if (errno == EINTR) continue;
            std::perror("gesipan-fcgi: poll");
            return 1;
        }
        // Another worker may have taken the connection: then this accept
        // finds none and the worker waits again.
        int accepted = FCGX_Accept_r(&fcgi);
        if (accepted < 0) {
            // Out of descriptors or the like: give it a moment, not a spin.
            if (accepted != -EAGAIN && accepted != -EWOULDBLOCK) ppoll(nullptr, 0, &kRetryPause, &waiting);
            continue;
        }
        // The response's deferred work (a committed change carried out, its
        // lock let go) runs once the server has the whole page, and dies
        // with the request.
        Response response;
        answer(fcgi, clock, site, response);
        FCGX_Finish_r(&fcgi);
        response.runAfterSending();
    }
    FCGX_Free(&fcgi, 1);
    return 0;
}
