// The FastCGI responder run for a test: started on a Unix socket in a
// scratch site's cgi-bin/, stopped with SIGTERM, its error output kept.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "fcgi_client.h"

class ResponderProcess {
public:
    // Starts the responder with `workers` workers, working in `cgiBin`,
    // with the variables `env` added to its environment; waits until it
    // takes connections. With `socketOnStdin` the test makes the listening
    // socket and hands it over as standard input, as a FastCGI spawner does.
    // The pool stays at `workers` unless `options` (more of the
    // responder's command line) lets it grow.
    ResponderProcess(const std::string& cgiBin, int workers, const std::map<std::string, std::string>& env = {},
                     bool socketOnStdin = false, const std::vector<std::string>& options = {});
    ~ResponderProcess();
    ResponderProcess(const ResponderProcess&) = delete;
    ResponderProcess& operator=(const ResponderProcess&) = delete;

    const std::string& socketPath() const { return socket_; }
    pid_t pid() const { return pid_; }

    FcgiResult request(const std::map<std::string, std::string>& params, const std::string& body) const;

    // The worker processes, by /proc.
    std::vector<pid_t> workers() const;

    // SIGTERM, then waits; the exit status, or -1 when it was killed. With
    // `withinSeconds`, one still running then is killed, and -2 returned.
    int stop(int withinSeconds = 0);

    // Everything it wrote to its standard error so far.
    std::string errors() const;

private:
    std::string dir_;
    std::string socket_;
    std::string errorFile_;
    pid_t pid_ = -1;
};

// The responder's path in the tested build.
std::string responderPath();

// A sanitizer's report or a worker's death in the responder's errors.
bool hasFaultReport(const std::string& errors);
