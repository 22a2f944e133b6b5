// What a page takes from its request, parsed once before the page runs: the
// board and message numbers of the query, the posted form's fields, and
// who is asking. No page cuts a query or a form body itself.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "page/request.h"
#include "config/visitor_address.h"

// Largest form body SavePage takes, in bytes; the web servers' own limit is
// the same (server.max-request-size, LimitRequestBody, client_max_body_size).
constexpr int kMaxFormBody = 512 * 1024;

// How a page takes its form body.
enum class FormBody {
    None,     // not read
    Whole,    // read as CONTENT_LENGTH says (to the end of input when negative)
    Limited,  // as Whole, but a body over kMaxFormBody is not read at all
};

struct PostedField {
    std::string name;
    std::string value;
};

struct PageInput {
    // The query's values by position, whatever their names (stored links
    // spell them in more than one way): the board, then the message.
    std::string queryValues[2];
    int board = 0;
    int message = 0;

    // The form's fields in the order posted, percent- and plus-decoded; at
    // most kPairCapacity, later ones read and dropped.
    std::vector<PostedField> posted;
    // A Limited body over its limit: nothing of it was read.
    bool bodyTooLarge = false;

    std::string remoteAddr;
    std::optional<std::string> remoteHost;
    std::string forwardedFor;
    std::time_t now = 0;
    // The validators of a conditional request, as sent.
    std::string ifNoneMatch;
    std::string ifModifiedSince;

    // The value posted at `position` (1 is the first), or the empty text.
    const std::string& postedValue(int position) const;
    // The value of the field `name` posted at `position` or later, or null.
    const std::string* postedNamed(const char* name, int position) const;
    // The visitor as the site's trusted proxies let it be named.
    std::string visitor(const TrustedProxies& trusted) const;
};

PageInput parsePageInput(const Request& request, FormBody body);
