#include "page/exchange.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <unistd.h>


namespace {

constexpr char kContentType[] = "Content-type: text/html\n\n";

}  // namespace

int servePage(const PageProgram& page, const Request& request, SiteConfigCache& site, Response& response) {
    try {
        if (!page.ownHeaders) response.append(kContentType, sizeof kContentType - 1);
        const PageInput input = parsePageInput(request, page.body);
        return page.run(input, site.current(), response);
    } catch (const std::bad_alloc&) {
        response.markOutOfMemory();
        return 1;
    }
}

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

int runAsCgi(const PageProgram& page) {
    Request request = requestFromParams([](const char* name) { return std::getenv(name); }, stdin,
                                        requestTime(fixedClock()));
    SiteConfigCache site;
    Response response;
    int status = servePage(page, request, site, response);
    // A server may end a CGI program the moment it has the page (lighttpd
    // sends SIGTERM once standard output closes): the committed change is
    // finished first, in a few milliseconds, rather than left to the next
    // request. Ignored before the page goes out, so no end of it comes in
    // between.
    std::signal(SIGTERM, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    writeAll(STDOUT_FILENO, response.bytes().data(), response.bytes().size());
    if (response.outOfMemory()) writeAll(STDOUT_FILENO, Response::kOutOfMemory, sizeof Response::kOutOfMemory - 1);
    endStandardOutput();
    response.runAfterSending();
    return status;
}
