// The response a page writes to, handed to it by the one who serves it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// One request's response: the bytes its page printed (sent whole when the
// page returns, so a page costs one write), whether memory ran out on the
// way, and the work left for after it is sent. It dies with the request,
// and with it whatever that work holds (a board's lock).
class Response {
public:
    Response() = default;
    Response(const Response&) = delete;
    Response& operator=(const Response&) = delete;

    // Throws std::bad_alloc when memory runs out.
    void append(const char* data, std::size_t length);

    // Puts a "Status:" header line before every other byte (the first
    // call's status holds); without one the server answers 200.
    void setStatus(int code);

    // The page stops short of memory: what was printed goes out, then a
    // bare message line.
    void markOutOfMemory() { outOfMemory_ = true; }

    const std::string& bytes() const { return bytes_; }
    bool outOfMemory() const { return outOfMemory_; }

    // The line sent after the bytes of a page that ran out of memory.
    static constexpr char kOutOfMemory[] = "Out of memory.\n";

    // Work that runs once the server has the whole response, in order (an
    // empty job is none). Work never run is dropped with the response: it
    // may only be what someone else finishes too (a committed change).
    void deferAfterSending(std::function<void()> job) {
        if (job) afterSending_.push_back(std::move(job));
    }

    // Runs the deferred work once, each job dropped as it ends.
    void runAfterSending();

private:
    std::string bytes_;
    bool outOfMemory_ = false;
    bool statusSet_ = false;
    std::vector<std::function<void()>> afterSending_;
};
