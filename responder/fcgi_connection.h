// One FastCGI connection as the responder reads it: records of an 8-byte
// header, at most one request at a time, read whole before its page runs.
// Nothing here touches a socket, so whatever bytes arrive can cost at most
// this connection, and a fuzzer can feed it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fcgi {

struct Limits {
    std::size_t maxParams = 1 << 20;  // the name-value pairs of one request
    std::size_t maxBody = 8 << 20;    // its stdin stream
    int maxConnections = 1;           // told to a server that asks (FCGI_GET_VALUES)
};

// A whole request: its parameters and its body, kept in pieces so that no
// allocation grows with the body.
class Request {
public:
    std::uint16_t id = 0;
    bool keepConnection = false;

    // A parameter's value by its name, or null; the first of repeated names
    // wins, and a value ends at its first NUL, as with the C library's
    // environment.
    const char* param(const char* name) const;

    // The body as a stdio stream, readable while this request lives; null
    // when out of memory.
    std::FILE* openBody() const;

    std::size_t bodySize() const { return bodySize_; }

private:
    friend class Connection;
    std::string pairs_;                // the PARAMS stream as sent
    std::vector<std::string> entries_; // "NAME=value"
    std::vector<std::string> body_;
    std::size_t bodySize_ = 0;
};

class Connection {
public:
    enum class Phase {
        Waiting,  // no request begun
        Reading,  // a request begun, not yet whole
        Whole,    // a request ready for its page
        Closing,  // send what is pending, then close: nothing more to do here
        Failed,   // drop the connection: failure() says why
    };

    explicit Connection(const Limits& limits) : limits_(limits) {}

    // Takes bytes read from the connection; records after a whole request
    // wait until next().
    void receive(const char* data, std::size_t size);

    Phase phase() const { return phase_; }
    const char* failure() const { return failure_; }
    // Any byte since the last request ended, or a request begun.
    bool started() const { return unread() > 0 || phase_ != Phase::Waiting; }
    // The header records (BEGIN_REQUEST and every PARAMS) are in.
    bool headerWhole() const { return paramsEnded_; }

    Request& request() { return request_; }

    // Bytes to send now (answers to management records, refusals).
    std::string& pending() { return pending_; }

    // Appends the answer to the whole request: `output` then `extra` on its
    // stdout stream, and its end with `status`.
    void answer(const std::string& output, const char* extra, std::size_t extraSize, int status);

    // After the answer: the next request, from what already arrived.
    void next();

private:
    std::size_t unread() const { return in_.size() - at_; }
    void parse();
    void record(unsigned type, std::uint16_t id, const unsigned char* content, std::size_t size);
    void begin(std::uint16_t id, const unsigned char* content, std::size_t size);
    void params(const unsigned char* content, std::size_t size);
    void input(const unsigned char* content, std::size_t size);
    void management(unsigned type, const unsigned char* content, std::size_t size);
    void endRequest(std::uint16_t id, int status, unsigned char protocolStatus);
    void fail(const char* reason);
    void reset();

    Limits limits_;
    std::string in_;
    std::size_t at_ = 0;
    Phase phase_ = Phase::Waiting;
    const char* failure_ = nullptr;
    bool paramsEnded_ = false;
    bool stdinEnded_ = false;
    Request request_;
    std::string pending_;
};

}  // namespace fcgi
