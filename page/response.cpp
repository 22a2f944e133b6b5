#include "page/response.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// The response of the request this thread serves; set only while an
// OutputBinding lives, so nothing printed outlives its request.
thread_local Response* current = nullptr;

Response& currentResponse() {
    if (!current) {
        // A page printing outside a request is a fault of the program.
        std::fputs("emit() outside a request\n", stderr);
        std::abort();
    }
    return *current;
}

}  // namespace

void Response::append(const char* data, std::size_t length) {
    if (bytes_.capacity() == 0) bytes_.reserve(16384);
    bytes_.append(data, length);
}

void Response::runAfterSending() {
    std::vector<std::function<void()>> jobs;
    jobs.swap(afterSending_);
    for (auto& job : jobs) {
        try {
            job();
        } catch (const std::bad_alloc&) {
            // Out of memory after the page went out: nobody to tell; what
            // the job held is let go, and the next holder finishes it.
        }
        job = nullptr;
    }
}

bool deferAfterResponse(std::function<void()> job) {
    if (!current) return false;
    current->deferAfterSending(std::move(job));
    return true;
}

OutputBinding::OutputBinding(Response& response) : previous_(current) { current = &response; }

OutputBinding::~OutputBinding() { current = previous_; }

void emit(const char* format, ...) {
    Response& response = currentResponse();
    va_list args;
    va_start(args, format);
    va_list probe;
    va_copy(probe, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, probe);
    va_end(probe);
    if (needed < 0) {
        va_end(args);
        return;
    }
    std::size_t length = static_cast<std::size_t>(needed);
    if (length < sizeof small) {
        va_end(args);
        response.append(small, length);
        return;
    }
    std::string large(length + 1, '\0');
    std::vsnprintf(large.data(), large.size(), format, args);
    va_end(args);
    response.append(large.data(), length);
}

void emitBytes(const char* data, std::size_t length) {
    if (length == 0) return;
    currentResponse().append(data, length);
}

void emitContentType() { emit("Content-type: text/html%c%c", NL, NL); }
