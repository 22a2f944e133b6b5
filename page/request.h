// A request as the server hands it over, CGI environment and FastCGI
// params alike; a page reads nothing about its request from anywhere
// else (no environment, no standard input). Pages take it parsed, as a
// PageInput.
#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

struct Request {
    std::string query;                      // QUERY_STRING; empty when not given
    int contentLength = 0;                  // CONTENT_LENGTH's decimal value; 0 when not given
    std::FILE* body = nullptr;              // the form body
    std::string remoteAddr;                 // REMOTE_ADDR; empty when not given
    std::optional<std::string> remoteHost;  // REMOTE_HOST, which servers may leave out
    std::string forwardedFor;               // HTTP_X_FORWARDED_FOR
    std::string scriptName;                 // SCRIPT_NAME
    std::string ifNoneMatch;                // HTTP_IF_NONE_MATCH
    std::string ifModifiedSince;            // HTTP_IF_MODIFIED_SINCE
    std::time_t now = 0;                    // the clock as the request is taken
};

// A request parameter by its CGI name, or null when the server gave none.
using ParamLookup = std::function<const char*(const char* name)>;

// The request from the server's parameters (the environment of a CGI run,
// the params of a FastCGI request), its form body and the time.
Request requestFromParams(const ParamLookup& param, std::FILE* body, std::time_t now);

// The clock of a test build, fixed from the process environment
// (GESIPAN_TEST_CLOCK, seconds since the epoch) when the process starts;
// nothing otherwise. A request's parameters never reach it.
std::optional<std::time_t> fixedClock();

// The time a request is taken at.
std::time_t requestTime(const std::optional<std::time_t>& fixed);
