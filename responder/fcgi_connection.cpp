#include "fcgi_connection.h"

#include <cstring>

namespace fcgi {

namespace {

enum : unsigned {
    kBeginRequest = 1,
    kAbortRequest = 2,
    kEndRequest = 3,
    kParams = 4,
    kStdin = 5,
    kStdout = 6,
    kGetValues = 9,
    kGetValuesResult = 10,
    kUnknownType = 11,
};
enum : unsigned char { kRequestComplete = 0, kCantMpxConn = 1, kUnknownRole = 3 };
constexpr unsigned kResponder = 1;
constexpr unsigned char kKeepConn = 1;
constexpr std::size_t kHeader = 8;
constexpr std::size_t kChunk = 65536;
// Answers to management records a client does not read are not kept up.
constexpr std::size_t kMaxPending = 65536;

void appendRecord(std::string& out, unsigned type, std::uint16_t id, const char* content, std::size_t size) {
    const std::size_t padding = (8 - size % 8) % 8;
    const char header[kHeader] = {1,
                                  static_cast<char>(type),
                                  static_cast<char>(id >> 8),
                                  static_cast<char>(id & 0xFF),
                                  static_cast<char>(size >> 8),
                                  static_cast<char>(size & 0xFF),
                                  static_cast<char>(padding),
                                  0};
    out.append(header, kHeader);
    out.append(content, size);
    out.append(padding, '\0');
}

void appendStream(std::string& out, std::uint16_t id, const char* data, std::size_t size) {
    // The largest content that stays a multiple of 8, as records are padded.
    constexpr std::size_t kMost = 65528;
    for (std::size_t at = 0; at < size; at += kMost) {
        appendRecord(out, kStdout, id, data + at, size - at < kMost ? size - at : kMost);
    }
}

// One length of a name-value pair: one byte below 128, else four with the
// top bit set. False when the bytes end first.
bool takeLength(const unsigned char*& p, const unsigned char* end, std::size_t& length) {
    if (p == end) return false;
    if (*p < 0x80) {
        length = *p++;
        return true;
    }
    if (end - p < 4) return false;
    length = (static_cast<std::size_t>(p[0] & 0x7F) << 24) | (static_cast<std::size_t>(p[1]) << 16) |
             (static_cast<std::size_t>(p[2]) << 8) | p[3];
    p += 4;
    return true;
}

// Calls `take(name, nameSize, value, valueSize)` for every pair; false when
// a length points past the end (checked before anything is read or kept).
template <typename Take>
bool forEachPair(const unsigned char* p, const unsigned char* end, Take take) {
    while (p < end) {
        std::size_t nameSize = 0;
        std::size_t valueSize = 0;
        if (!takeLength(p, end, nameSize) || !takeLength(p, end, valueSize)) return false;
        const std::size_t left = static_cast<std::size_t>(end - p);
        if (nameSize > left || valueSize > left - nameSize) return false;
        take(reinterpret_cast<const char*>(p), nameSize, reinterpret_cast<const char*>(p + nameSize), valueSize);
        p += nameSize + valueSize;
    }
    return true;
}

struct BodyCursor {
    const std::vector<std::string>* chunks;
    std::size_t chunk;
    std::size_t at;
};

ssize_t readBody(void* cookie, char* buffer, std::size_t size) {
    BodyCursor& cursor = *static_cast<BodyCursor*>(cookie);
    std::size_t done = 0;
    while (done < size && cursor.chunk < cursor.chunks->size()) {
        const std::string& chunk = (*cursor.chunks)[cursor.chunk];
        std::size_t n = chunk.size() - cursor.at < size - done ? chunk.size() - cursor.at : size - done;
        std::memcpy(buffer + done, chunk.data() + cursor.at, n);
        done += n;
        cursor.at += n;
        if (cursor.at == chunk.size()) {
            ++cursor.chunk;
            cursor.at = 0;
        }
    }
    return static_cast<ssize_t>(done);
}

int closeBody(void* cookie) {
    delete static_cast<BodyCursor*>(cookie);
    return 0;
}

}  // namespace

const char* Request::param(const char* name) const {
    const std::size_t length = std::strlen(name);
    for (const std::string& entry : entries_) {
        if (std::strncmp(entry.c_str(), name, length) == 0 && entry.c_str()[length] == '=') {
            return entry.c_str() + length + 1;
        }
    }
    return nullptr;
}

std::FILE* Request::openBody() const {
    BodyCursor* cursor = new (std::nothrow) BodyCursor{&body_, 0, 0};
    if (!cursor) return nullptr;
    cookie_io_functions_t functions = {readBody, nullptr, nullptr, closeBody};
    std::FILE* stream = fopencookie(cursor, "r", functions);
    if (!stream) delete cursor;
    return stream;
}

void Connection::receive(const char* data, std::size_t size) {
    if (phase_ == Phase::Failed || phase_ == Phase::Closing) return;
    in_.append(data, size);
    parse();
}

void Connection::parse() {
    while (phase_ == Phase::Waiting || phase_ == Phase::Reading) {
        if (unread() < kHeader) break;
        const unsigned char* h = reinterpret_cast<const unsigned char*>(in_.data() + at_);
        const std::size_t size = (static_cast<std::size_t>(h[4]) << 8) | h[5];
        const std::size_t total = kHeader + size + h[6];
        if (h[0] != 1) {
            fail("a record of an unknown protocol version");
            break;
        }
        if (unread() < total) break;
        const unsigned type = h[1];
        const std::uint16_t id = static_cast<std::uint16_t>((h[2] << 8) | h[3]);
        at_ += total;
        record(type, id, h + kHeader, size);
        if (pending_.size() > kMaxPending) fail("answers to management records left unread");
    }
    // What was read is let go once most of the buffer is behind.
    if (at_ > 0 && (at_ == in_.size() || at_ > kChunk)) {
        in_.erase(0, at_);
        at_ = 0;
    }
}

void Connection::record(unsigned type, std::uint16_t id, const unsigned char* content, std::size_t size) {
    if (id == 0) {
        management(type, content, size);
        return;
    }
    if (type == kBeginRequest) {
        begin(id, content, size);
        return;
    }
    // Records of any request but the one being read are ignored.
    if (phase_ != Phase::Reading || id != request_.id) return;
    if (type == kParams) {
        params(content, size);
    } else if (type == kStdin) {
        input(content, size);
    } else if (type == kAbortRequest) {
        endRequest(id, 0, kRequestComplete);
        const bool keep = request_.keepConnection;
        reset();
        if (!keep) phase_ = Phase::Closing;
    }
}

void Connection::begin(std::uint16_t id, const unsigned char* content, std::size_t size) {
    if (size < 8) {
        fail("a BEGIN_REQUEST record too short");
        return;
    }
    if (phase_ == Phase::Reading) {
        if (id == request_.id) {
            fail("a second BEGIN_REQUEST for the request being read");
            return;
        }
        // One request at a time: the other is refused, this one goes on.
        endRequest(id, 0, kCantMpxConn);
        return;
    }
    const unsigned role = (static_cast<unsigned>(content[0]) << 8) | content[1];
    const bool keep = (content[2] & kKeepConn) != 0;
    if (role != kResponder) {
        endRequest(id, 0, kUnknownRole);
        if (!keep) phase_ = Phase::Closing;
        return;
    }
    request_ = Request();
    request_.id = id;
    request_.keepConnection = keep;
    paramsEnded_ = false;
    stdinEnded_ = false;
    phase_ = Phase::Reading;
}

void Connection::params(const unsigned char* content, std::size_t size) {
    if (paramsEnded_) return;
    if (size > 0) {
        if (request_.pairs_.size() + size > limits_.maxParams) {
            fail("parameters beyond the limit");
            return;
        }
        request_.pairs_.append(reinterpret_cast<const char*>(content), size);
        return;
    }
    paramsEnded_ = true;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(request_.pairs_.data());
    std::vector<std::string>& entries = request_.entries_;
    bool whole = forEachPair(p, p + request_.pairs_.size(),
                             [&entries](const char* name, std::size_t nameSize, const char* value, std::size_t valueSize) {
                                 std::string entry;
                                 entry.reserve(nameSize + 1 + valueSize);
                                 entry.append(name, nameSize).append(1, '=').append(value, valueSize);
                                 entries.push_back(std::move(entry));
                             });
    std::string().swap(request_.pairs_);
    if (!whole) {
        fail("a parameter length past the end of the parameters");
        return;
    }
    if (stdinEnded_) phase_ = Phase::Whole;
}

void Connection::input(const unsigned char* content, std::size_t size) {
    if (stdinEnded_) return;
    if (size == 0) {
        stdinEnded_ = true;
        if (paramsEnded_) phase_ = Phase::Whole;
        return;
    }
    if (request_.bodySize_ + size > limits_.maxBody) {
        fail("a body beyond the limit");
        return;
    }
    std::vector<std::string>& body = request_.body_;
    const char* data = reinterpret_cast<const char*>(content);
    while (size > 0) {
        if (body.empty() || body.back().size() == kChunk) {
            body.emplace_back();
            body.back().reserve(kChunk);
        }
        std::size_t room = kChunk - body.back().size();
        std::size_t n = size < room ? size : room;
        body.back().append(data, n);
        data += n;
        size -= n;
        request_.bodySize_ += n;
    }
}

void Connection::management(unsigned type, const unsigned char* content, std::size_t size) {
    if (type != kGetValues) {
        const char unknown[8] = {static_cast<char>(type), 0, 0, 0, 0, 0, 0, 0};
        appendRecord(pending_, kUnknownType, 0, unknown, sizeof unknown);
        return;
    }
    std::string result;
    const std::string most = std::to_string(limits_.maxConnections);
    forEachPair(content, content + size, [&](const char* name, std::size_t nameSize, const char*, std::size_t) {
        const std::string asked(name, nameSize);
        const char* value = asked == "FCGI_MAX_CONNS" || asked == "FCGI_MAX_REQS" ? most.c_str()
                            : asked == "FCGI_MPXS_CONNS"                         ? "0"
                                                                                 : nullptr;
        if (!value || result.size() > 1024) return;
        result += static_cast<char>(nameSize);
        result += static_cast<char>(std::strlen(value));
        result += asked;
        result += value;
    });
    appendRecord(pending_, kGetValuesResult, 0, result.data(), result.size());
}

void Connection::endRequest(std::uint16_t id, int status, unsigned char protocolStatus) {
    const unsigned value = static_cast<unsigned>(status);
    const char body[8] = {static_cast<char>(value >> 24),
                          static_cast<char>((value >> 16) & 0xFF),
                          static_cast<char>((value >> 8) & 0xFF),
                          static_cast<char>(value & 0xFF),
                          static_cast<char>(protocolStatus),
                          0,
                          0,
                          0};
    appendRecord(pending_, kEndRequest, id, body, sizeof body);
}

void Connection::answer(const std::string& output, const char* extra, std::size_t extraSize, int status) {
    pending_.reserve(pending_.size() + output.size() + extraSize + 64 + output.size() / 8192);
    appendStream(pending_, request_.id, output.data(), output.size());
    appendStream(pending_, request_.id, extra, extraSize);
    appendRecord(pending_, kStdout, request_.id, "", 0);
    endRequest(request_.id, status, kRequestComplete);
}

void Connection::reset() {
    request_ = Request();
    paramsEnded_ = false;
    stdinEnded_ = false;
    phase_ = Phase::Waiting;
}

void Connection::next() {
    reset();
    parse();
}

void Connection::fail(const char* reason) {
    phase_ = Phase::Failed;
    failure_ = reason;
}

}  // namespace fcgi
