#include "page/response.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

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
