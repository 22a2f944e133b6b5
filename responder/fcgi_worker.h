// One worker of the responder: takes connections from the listening socket
// one at a time and answers their requests through the pages, until told
// to stop.
#pragma once

#include <atomic>
#include <ctime>
#include <optional>

#include "fcgi_connection.h"

// What a worker tells the parent through memory they share: whether it
// waits for a connection, answers one, or is held by a client (a request
// still arriving, a kept connection, an answer not taken), so that the
// pool grows for the held ones only; more workers than cores answering
// at once would only share the cores.
struct WorkerSlot {
    enum State : int { kFree, kStarting, kIdle, kServing, kHeld };
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
    int base = 1;                 // the workers the pool keeps free of held ones
    int wakeFd = -1;              // a byte here: fewer than `base` are
};

// Serves connections on `listenFd` (non-blocking) until SIGTERM or SIGINT,
// which the caller has blocked; a request in progress is finished first,
// a connection only waiting is dropped. Returns the worker's exit status.
int serveRequests(int listenFd, const std::optional<std::time_t>& clock, const WorkerSettings& settings);

// Monotonic time, for the slots' times and the pool's.
long long monotonicSeconds();
long long monotonicMillis();

// Whether a worker in `state` can answer a request soon (not held).
inline bool freeToAnswer(int state) {
    return state == WorkerSlot::kStarting || state == WorkerSlot::kIdle || state == WorkerSlot::kServing;
}
