// A small FastCGI client for the tests: one request over a Unix socket to
// the responder, the way a web server sends it, and its answer read back.
#pragma once

#include <map>
#include <string>
#include <vector>

struct FcgiResult {
    std::string output;  // the stdout stream, as a CGI program's standard output
    std::string errors;  // the stderr stream
    int status = -1;     // the application status of FCGI_END_REQUEST
    bool ended = false;  // FCGI_END_REQUEST arrived before the connection closed
    int requestId = 0;       // of the FCGI_END_REQUEST
    int protocolStatus = -1; // its protocolStatus (0 complete, 1 cannot multiplex, 3 unknown role)
    std::string management;  // the contents of management records (type 10, 11) before it
};

// Sends `params` and `body` as one request on a new connection to the
// socket at `socketPath` and reads until the request ends.
FcgiResult runFcgi(const std::string& socketPath, const std::map<std::string, std::string>& params,
                   const std::string& body);

// Connects, sends `params` and the start of the body, and returns the
// connection without ending the request (-1 on failure).
int startFcgi(const std::string& socketPath, const std::map<std::string, std::string>& params,
              const std::string& partialBody);

// Sends the rest of the body of a request begun with startFcgi, reads the
// answer and closes the connection.
FcgiResult finishFcgi(int fd, const std::string& restOfBody);

// A connection of its own (-1 on failure), and requests sent on it asking
// the responder to keep it open (FCGI_KEEP_CONN), as nginx may.
int connectFcgi(const std::string& socketPath);
FcgiResult requestOnKeptConnection(int fd, const std::map<std::string, std::string>& params, const std::string& body);

// Raw protocol for the tests of hostile and unusual clients: a record, and
// a whole request (BEGIN_REQUEST, PARAMS, STDIN) as id `id`.
std::string fcgiRecord(unsigned char type, int id, const std::string& content);
std::string fcgiRequestBytes(const std::map<std::string, std::string>& params, const std::string& body, int id = 1,
                             bool keepConnection = false);

// Sends `bytes` on `fd` and reads answers until `answers` requests ended or
// the connection closed; each ended request in the order it ended, the one
// after the last end holding whatever came without one. `closed`: the
// responder closed the connection.
std::vector<FcgiResult> exchangeRaw(int fd, const std::string& bytes, std::size_t answers, bool* closed = nullptr);
