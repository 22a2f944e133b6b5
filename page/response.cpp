#include "page/response.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

void Response::append(const char* data, std::size_t length) {
    if (bytes_.capacity() == 0) bytes_.reserve(16384);
    bytes_.append(data, length);
}

void Response::setStatus(int code) {
    if (statusSet_) return;
    statusSet_ = true;
    const char* reason = "Internal Server Error";
    switch (code) {
        case 400: reason = "Bad Request"; break;
        case 304: reason = "Not Modified"; break;
        case 403: reason = "Forbidden"; break;
        case 404: reason = "Not Found"; break;
        case 413: reason = "Content Too Large"; break;
        case 429: reason = "Too Many Requests"; break;
        case 503: reason = "Service Unavailable"; break;
        default: code = 500;
    }
    bytes_.insert(0, "Status: " + std::to_string(code) + " " + reason + "\n");
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
