// Runs a built program as a real CGI process: its own environment, the
// form body on standard input, a working directory, and the response and
// exit status read back.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CgiRequest {
    std::string query;                      // QUERY_STRING; unset when `noQuery`
    bool noQuery = false;
    std::string body;                       // standard input
    std::string contentLength;              // CONTENT_LENGTH; body size when empty
    bool noContentLength = false;
    std::map<std::string, std::string> env; // further variables (REMOTE_HOST, ...)
    long fileSizeLimit = -1;                // bytes a write may reach, as on a full disk; -1 for none
    std::vector<std::string> launcher;      // a command the program runs under (strace ...), if any
    std::string programDir;                 // where the program is; the tested build's when empty
    std::vector<std::string> args;          // command-line arguments (the operator's tool)
    bool mergeStderr = false;               // standard error into `output` too
};

struct CgiResult {
    std::string output;  // everything on standard output
    int status = -1;     // exit status, or -1 when killed
    int signal = 0;      // the signal that ended it, or 0
};

// Full path of a built program ("FormPage", ...).
std::string programPath(const std::string& program);

// Runs `program` with `request` in `workDir` and waits for it to end.
CgiResult runCgi(const std::string& program, const std::string& workDir, const CgiRequest& request);

// The response after its "Content-type: text/html\n\n" header; fails the
// current test when the header is not there.
std::string pageOf(const CgiResult& result);
