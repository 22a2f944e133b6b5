#include "page/request.h"

#include <cstdlib>

#include "text/decimal.h"

Request requestFromParams(const ParamLookup& param, std::FILE* body, std::time_t now) {
    auto text = [&param](const char* name) {
        const char* value = param(name);
        return std::string(value ? value : "");
    };
    Request request;
    request.query = text("QUERY_STRING");
    request.contentLength = decimalValue(text("CONTENT_LENGTH").c_str());
    request.body = body;
    request.remoteAddr = text("REMOTE_ADDR");
    if (const char* host = param("REMOTE_HOST")) request.remoteHost = host;
    request.forwardedFor = text("HTTP_X_FORWARDED_FOR");
    request.scriptName = text("SCRIPT_NAME");
    request.ifNoneMatch = text("HTTP_IF_NONE_MATCH");
    request.ifModifiedSince = text("HTTP_IF_MODIFIED_SINCE");
    request.now = now;
    return request;
}

std::optional<std::time_t> fixedClock() {
#ifdef GESIPAN_TEST_CLOCK
    if (const char* fixed = std::getenv("GESIPAN_TEST_CLOCK")) return static_cast<std::time_t>(std::atoll(fixed));
#endif
    return std::nullopt;
}

std::time_t requestTime(const std::optional<std::time_t>& fixed) { return fixed ? *fixed : std::time(nullptr); }
