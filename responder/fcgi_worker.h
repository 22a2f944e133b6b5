// One worker of the responder: takes connections from the listening socket
// one at a time and answers their requests through the pages, until told
// to stop.
#pragma once

#include <atomic>
#include <ctime>
#include <optional>

#include "fcgi_connection.h"

// What a worker tells the parent through memory they share: whether it
// waits for a connection, so the pool grows when none does.
struct WorkerSlot {
    enum State : int { kFree, kStarting, kIdle, kBusy };
    std::atomic<int> state{kFree};
    std::atomic<long long> since{0};  // when it last became idle (monotonic seconds)
};

struct WorkerSettings {
    int headerSeconds = 5;   // BEGIN_REQUEST and the parameters, from the request's first byte
    int bodySeconds = 30;    // the whole request, and the answer taken
    int idleSeconds = 10;    // a kept-open connection without a request
    fcgi::Limits limits;
    WorkerSlot* slots = nullptr;  // the pool's, `slotCount` of them
    int slotCount = 0;
    int slot = 0;                 // this worker's
    int wakeFd = -1;              // a byte here: every worker is busy
};

// Serves connections on `listenFd` (non-blocking) until SIGTERM or SIGINT,
// which the caller has blocked; a request in progress is finished first,
// a connection only waiting is dropped. Returns the worker's exit status.
int serveRequests(int listenFd, const std::optional<std::time_t>& clock, const WorkerSettings& settings);

// Monotonic seconds, for the slots' times.
long long monotonicSeconds();
