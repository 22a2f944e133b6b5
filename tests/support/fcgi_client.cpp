#include "fcgi_client.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

enum : unsigned char { kBeginRequest = 1, kEndRequest = 3, kParams = 4, kStdin = 5, kStdout = 6, kStderr = 7 };

void appendRecord(std::string& out, unsigned char type, const std::string& content, int id = 1) {
    unsigned char header[8] = {1, type, static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id & 0xFF),
                               static_cast<unsigned char>(content.size() >> 8),
                               static_cast<unsigned char>(content.size() & 0xFF), 0, 0};
    out.append(reinterpret_cast<char*>(header), sizeof header);
    out += content;
}

void appendLength(std::string& out, std::size_t length) {
    if (length < 128) {
        out += static_cast<char>(length);
        return;
    }
    out += static_cast<char>(0x80 | ((length >> 24) & 0x7F));
    out += static_cast<char>((length >> 16) & 0xFF);
    out += static_cast<char>((length >> 8) & 0xFF);
    out += static_cast<char>(length & 0xFF);
}

// A stream's content in records of at most 65535 bytes.
void appendStream(std::string& out, unsigned char type, const std::string& content, int id = 1) {
    for (std::size_t at = 0; at < content.size(); at += 65535) appendRecord(out, type, content.substr(at, 65535), id);
}

std::string requestStart(const std::map<std::string, std::string>& params, bool keepConnection = false, int id = 1) {
    std::string out;
    // The responder role; FCGI_KEEP_CONN when the connection is to stay.
    appendRecord(out, kBeginRequest, std::string("\0\1", 2) + (keepConnection ? '\1' : '\0') + std::string(5, '\0'), id);
    std::string pairs;
    for (const auto& [name, value] : params) {
        appendLength(pairs, name.size());
        appendLength(pairs, value.size());
        pairs += name;
        pairs += value;
    }
    appendStream(out, kParams, pairs, id);
    appendRecord(out, kParams, "", id);
    return out;
}

int connectTo(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Takes whole records off the front of `in` into the last of `results`;
// an END_REQUEST ends it and starts the next.
void takeRecords(std::string& in, std::vector<FcgiResult>& results) {
    while (in.size() >= 8) {
        const unsigned char* h = reinterpret_cast<const unsigned char*>(in.data());
        std::size_t length = (static_cast<std::size_t>(h[4]) << 8) | h[5];
        std::size_t total = 8 + length + h[6];
        if (in.size() < total) return;
        std::string content = in.substr(8, length);
        FcgiResult& result = results.back();
        if (h[1] == kStdout) result.output += content;
        if (h[1] == kStderr) result.errors += content;
        if (h[1] == 10 || h[1] == 11) result.management += content;
        if (h[1] == kEndRequest && content.size() >= 5) {
            const unsigned char* c = reinterpret_cast<const unsigned char*>(content.data());
            result.status = static_cast<int>((static_cast<unsigned>(c[0]) << 24) | (c[1] << 16) | (c[2] << 8) | c[3]);
            result.protocolStatus = c[4];
            result.requestId = (h[2] << 8) | h[3];
            result.ended = true;
            results.emplace_back();
        }
        in.erase(0, total);
    }
}

// Sends `out` and reads the answer together: a responder may answer (and
// close) before it has read a body it refuses.
std::vector<FcgiResult> exchangeMany(int fd, const std::string& out, std::size_t answers, bool* closed) {
    std::vector<FcgiResult> results(1);
    std::size_t sent = 0;
    std::string in;
    char chunk[65536];
    if (closed) *closed = false;
    while (results.size() <= answers) {
        pollfd p = {fd, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 30000) <= 0) break;
        if ((p.revents & POLLOUT) && sent < out.size()) {
            ssize_t written = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (written > 0) sent += static_cast<std::size_t>(written);
            if (written < 0 && errno != EINTR && errno != EAGAIN) sent = out.size();
        }
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got <= 0) {
                if (closed) *closed = true;
                break;
            }
            in.append(chunk, static_cast<std::size_t>(got));
            takeRecords(in, results);
        }
    }
    return results;
}

FcgiResult exchangeOn(int fd, const std::string& out) { return exchangeMany(fd, out, 1, nullptr).front(); }

FcgiResult exchange(int fd, const std::string& out) {
    FcgiResult result = exchangeOn(fd, out);
    ::close(fd);
    return result;
}

}  // namespace

FcgiResult runFcgi(const std::string& socketPath, const std::map<std::string, std::string>& params,
                   const std::string& body) {
    int fd = connectTo(socketPath);
    if (fd < 0) return FcgiResult();
    std::string out = requestStart(params);
    appendStream(out, kStdin, body);
    appendRecord(out, kStdin, "");
    return exchange(fd, out);
}

FcgiResult finishFcgi(int fd, const std::string& restOfBody) {
    std::string out;
    appendStream(out, kStdin, restOfBody);
    appendRecord(out, kStdin, "");
    return exchange(fd, out);
}

int startFcgi(const std::string& socketPath, const std::map<std::string, std::string>& params,
              const std::string& partialBody) {
    int fd = connectTo(socketPath);
    if (fd < 0) return -1;
    std::string out = requestStart(params);
    appendStream(out, kStdin, partialBody);
    if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectFcgi(const std::string& socketPath) { return connectTo(socketPath); }

FcgiResult requestOnKeptConnection(int fd, const std::map<std::string, std::string>& params, const std::string& body) {
    std::string out = requestStart(params, true);
    appendStream(out, kStdin, body);
    appendRecord(out, kStdin, "");
    return exchangeOn(fd, out);
}

std::string fcgiRecord(unsigned char type, int id, const std::string& content) {
    std::string out;
    appendRecord(out, type, content, id);
    return out;
}

std::string fcgiRequestBytes(const std::map<std::string, std::string>& params, const std::string& body, int id,
                             bool keepConnection) {
    std::string out = requestStart(params, keepConnection, id);
    appendStream(out, kStdin, body, id);
    appendRecord(out, kStdin, "", id);
    return out;
}

std::vector<FcgiResult> exchangeRaw(int fd, const std::string& bytes, std::size_t answers, bool* closed) {
    return exchangeMany(fd, bytes, answers, closed);
}
