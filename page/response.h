// The one output layer: every byte a page sends to the browser goes
// through here, into the response of the request being served. A response
// is collected in memory and sent whole when its page returns, so a page
// costs one write.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Newline for the "%c" of the page formats.
constexpr char NL = '\n';

// One request's response: the bytes its page printed, whether memory ran
// out on the way, and the work left for after it is sent. It dies with the
// request, and with it whatever that work holds (a board's lock).
class Response {
public:
    Response() = default;
    Response(const Response&) = delete;
    Response& operator=(const Response&) = delete;

    // Throws std::bad_alloc when memory runs out.
    void append(const char* data, std::size_t length);

    // The page stops short of memory: what was printed goes out, then a
    // bare message line.
    void markOutOfMemory() { outOfMemory_ = true; }

    const std::string& bytes() const { return bytes_; }
    bool outOfMemory() const { return outOfMemory_; }

    // The line sent after the bytes of a page that ran out of memory.
    static constexpr char kOutOfMemory[] = "Out of memory.\n";

    // Work that runs once the server has the whole response, in order.
    // Work never run is dropped with the response: it may only be what
    // someone else finishes too (a committed change).
    void deferAfterSending(std::function<void()> job) { afterSending_.push_back(std::move(job)); }

    // Runs the deferred work once, each job dropped as it ends.
    void runAfterSending();

private:
    std::string bytes_;
    bool outOfMemory_ = false;
    std::vector<std::function<void()>> afterSending_;
};

// Sends emit() into `response` for as long as it lives; one request at a
// time per thread.
class OutputBinding {
public:
    explicit OutputBinding(Response& response);
    ~OutputBinding();
    OutputBinding(const OutputBinding&) = delete;
    OutputBinding& operator=(const OutputBinding&) = delete;

private:
    Response* previous_;
};

// Leaves `job` to run after the current request's response is sent. False
// when no request is being served (the operator's tool): the caller does
// the work itself.
bool deferAfterResponse(std::function<void()> job);

// Appends a printf-style line (or part of one) to the response.
void emit(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends raw bytes unchanged (body files, filtered texts).
void emitBytes(const char* data, std::size_t length);

// "Content-type: text/html" and the empty line that ends the header.
void emitContentType();
