#include "page/exchange.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "page/form_decoding.h"

Request requestFromParams(const ParamLookup& param, std::FILE* body, std::time_t now) {
    auto text = [&param](const char* name) {
        const char* value = param(name);
        return std::string(value ? value : "");
    };
    Request request;
    request.query = text("QUERY_STRING");
    request.contentLength = decimalValue(text("CONTENT_LENGTH").c_str());
    request.body = body;
    request.remoteAddr = text("REMOTE_ADDR");
    if (const char* host = param("REMOTE_HOST")) request.remoteHost = host;
    request.forwardedFor = text("HTTP_X_FORWARDED_FOR");
    request.scriptName = text("SCRIPT_NAME");
    request.now = now;
    return request;
}

int servePage(PageFunction page, const Request& request, Response& response) {
    OutputBinding binding(response);
    try {
        return page(request);
    } catch (const std::bad_alloc&) {
        response.markOutOfMemory();
        return 1;
    }
}

std::optional<std::time_t> fixedClock() {
#ifdef GESIPAN_TEST_CLOCK
    if (const char* fixed = std::getenv("GESIPAN_TEST_CLOCK")) return static_cast<std::time_t>(std::atoll(fixed));
#endif
    return std::nullopt;
}

std::time_t requestTime(const std::optional<std::time_t>& fixed) { return fixed ? *fixed : std::time(nullptr); }

namespace {

void writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // the browser went away; nothing left to tell it
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

// The end of the page for the server, which may send it on while the
// committed change is carried out. Descriptor 1 goes to /dev/null rather
// than free, so that no file opened later takes it and a stray write to
// standard output never lands in a board's file.
void endStandardOutput() {
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, STDOUT_FILENO) < 0) ::close(STDOUT_FILENO);
    if (null >= 0 && null != STDOUT_FILENO) ::close(null);
}

}  // namespace

int runAsCgi(PageFunction page) {
    Request request = requestFromParams([](const char* name) { return std::getenv(name); }, stdin,
                                        requestTime(fixedClock()));
    Response response;
    int status = servePage(page, request, response);
    writeAll(STDOUT_FILENO, response.bytes().data(), response.bytes().size());
    if (response.outOfMemory()) writeAll(STDOUT_FILENO, Response::kOutOfMemory, sizeof Response::kOutOfMemory - 1);
    endStandardOutput();
    // A server may end a CGI program once it has the page (lighttpd sends
    // SIGTERM): the committed change is finished first, in a few
    // milliseconds, rather than left to the next request.
    std::signal(SIGTERM, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    response.runAfterSending();
    return status;
}
