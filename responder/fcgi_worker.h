// One worker of the responder: takes requests from the listening socket one
// at a time and answers each through its page, until told to stop.
#pragma once

#include <ctime>
#include <optional>

// Serves requests on `listenFd` (non-blocking) until SIGTERM or SIGINT,
// which the caller has blocked; a request in progress is finished first.
// Returns the worker's exit status.
int serveRequests(int listenFd, const std::optional<std::time_t>& clock);
