#include "spam/form_token.h"

#include <cstdio>
#include <cstring>
#include <nettle/hmac.h>
#include <nettle/memops.h>
#include <sys/random.h>
#include <unistd.h>
#include <vector>

#include "store/durable_file.h"
#include "store/state_file.h"

namespace {

constexpr std::size_t kMinSecret = 16;
constexpr std::size_t kNonceDigits = 16;
constexpr std::size_t kMacBytes = 16;
const char kRecordHead[] = "gesipan tokens 1";
// A clock that drifted between two web servers must not refuse a person.
constexpr long kClockSkew = 60;

std::string hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

bool isHex(const std::string& text) {
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string signature(const std::string& secret, int board, const std::string& issued, const std::string& nonce) {
    std::string message = "gesipan form|" + std::to_string(board) + "|" + issued + "|" + nonce;
    hmac_sha256_ctx context;
    hmac_sha256_set_key(&context, secret.size(), reinterpret_cast<const uint8_t*>(secret.data()));
    hmac_sha256_update(&context, message.size(), reinterpret_cast<const uint8_t*>(message.data()));
    unsigned char digest[SHA256_DIGEST_SIZE];
    hmac_sha256_digest(&context, sizeof digest, digest);
    return hex(digest, kMacBytes);
}

struct TokenParts {
    std::string issued;
    std::string nonce;
    std::string mac;
    long issuedAt = 0;
};

// "TIME.NONCE.MAC"; false when the token has no such shape.
bool splitToken(const std::string& token, TokenParts* parts) {
    std::size_t first = token.find('.');
    std::size_t second = first == std::string::npos ? first : token.find('.', first + 1);
    if (second == std::string::npos || token.size() > 80) return false;
    parts->issued = token.substr(0, first);
    parts->nonce = token.substr(first + 1, second - first - 1);
    parts->mac = token.substr(second + 1);
    if (parts->issued.empty() || parts->issued.size() > 12 ||
        parts->issued.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    parts->issuedAt = std::stol(parts->issued);
    return parts->nonce.size() == kNonceDigits && isHex(parts->nonce) && parts->mac.size() == 2 * kMacBytes &&
           isHex(parts->mac);
}

}  // namespace

std::string readSiteSecret(const std::string& path) {
    std::string text;
    // A secret is one short line; a file far longer is no secret of ours.
    if (path.empty() || readWholeFile(path.c_str(), &text, 64 * 1024) <= 0) return "";
    text = text.substr(0, text.find('\n'));
    return text.size() >= kMinSecret ? text : "";
}

std::string freshNonce() {
    unsigned char bytes[kNonceDigits / 2] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Only uniqueness matters here: the signature carries the trust.
        timespec clock = {};
        ::clock_gettime(CLOCK_REALTIME, &clock);
        unsigned long mixed = static_cast<unsigned long>(clock.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 32) ^
                              static_cast<unsigned long>(clock.tv_sec);
        std::memcpy(bytes, &mixed, sizeof bytes < sizeof mixed ? sizeof bytes : sizeof mixed);
    }
    return hex(bytes, sizeof bytes);
}

std::string makeFormToken(const std::string& secret, int board, std::time_t now, const std::string& nonce) {
    std::string issued = std::to_string(static_cast<long>(now));
    return issued + "." + nonce + "." + signature(secret, board, issued, nonce);
}

TokenVerdict checkFormToken(const std::string& secret, int board, std::time_t now, int wait, const std::string& token) {
    if (token.empty()) return TokenVerdict::Missing;
    TokenParts parts;
    if (!splitToken(token, &parts)) return TokenVerdict::Forged;
    std::string expected = signature(secret, board, parts.issued, parts.nonce);
    if (!memeql_sec(expected.data(), parts.mac.data(), expected.size())) return TokenVerdict::Forged;
    if (parts.issuedAt > now + kClockSkew) return TokenVerdict::Forged;
    if (now - parts.issuedAt > kTokenLifetime) return TokenVerdict::Expired;
    if (now - parts.issuedAt < wait) return TokenVerdict::TooSoon;
    return TokenVerdict::Valid;
}

std::string withUsedToken(const std::string& record, std::time_t now, const std::string& token, bool* seen,
                          bool* damaged) {
    TokenParts parts;
    *seen = false;
    *damaged = false;
    if (!splitToken(token, &parts)) {
        *seen = true;
        return record;
    }
    // First line "gesipan tokens 1 FLOOR": every token issued at or before
    // FLOOR has been forgotten and counts as used.
    long floor = 0;
    std::vector<std::pair<long, std::string>> kept;
    std::size_t at = record.find('\n');
    if (!record.empty()) {
        std::string first = record.substr(0, at);
        char rest;
        bool headed = at != std::string::npos && first.compare(0, sizeof kRecordHead - 1, kRecordHead) == 0 &&
                      std::sscanf(first.c_str() + sizeof kRecordHead - 1, " %ld %c", &floor, &rest) == 1;
        if (!headed) {
            *damaged = true;
            floor = 0;
            at = std::string::npos;
        }
    } else {
        at = std::string::npos;
    }
    while (at != std::string::npos && at + 1 < record.size()) {
        std::size_t end = record.find('\n', at + 1);
        if (end == std::string::npos) {
            *damaged = true;  // a last line cut short
            break;
        }
        long issued;
        char nonce[kNonceDigits + 2] = "";
        char rest;
        std::string line = record.substr(at + 1, end - at - 1);
        at = end;
        if (std::sscanf(line.c_str(), "%ld %17s %c", &issued, nonce, &rest) != 2 || std::strlen(nonce) != kNonceDigits) {
            *damaged = true;
            continue;
        }
        if (now - issued > kTokenLifetime) continue;
        if (issued == parts.issuedAt && parts.nonce == nonce) *seen = true;
        kept.emplace_back(issued, nonce);
    }
    if (parts.issuedAt <= floor) *seen = true;
    if (*seen) return record;
    kept.emplace_back(parts.issuedAt, parts.nonce);
    while (kept.size() > static_cast<std::size_t>(kUsedTokenCapacity)) {
        std::size_t oldest = 0;
        for (std::size_t i = 1; i < kept.size(); ++i) {
            if (kept[i].first < kept[oldest].first) oldest = i;
        }
        if (kept[oldest].first > floor) floor = kept[oldest].first;
        kept.erase(kept.begin() + static_cast<long>(oldest));
    }
    std::string text = std::string(kRecordHead) + " " + std::to_string(floor) + "\n";
    for (const auto& entry : kept) {
        // Tokens of the floor's second that were kept would count as used.
        if (entry.first <= floor) continue;
        text += std::to_string(entry.first) + " " + entry.second + "\n";
    }
    return text;
}

TokenVerdict useFormToken(const DefenceRecords& records, std::time_t now, const std::string& token) {
    StateFile file(records, kUsedTokensName);
    std::string record;
    if (!file.lockAndRead(&record)) return TokenVerdict::Valid;
    bool seen = false;
    bool damaged = false;
    std::string text = withUsedToken(record, now, token, &seen, &damaged);
    if (damaged) file.report("damaged, read as far as it goes");
    if (seen) return TokenVerdict::Used;
    if (!file.replace(text)) file.report("cannot be written");
    return TokenVerdict::Valid;
}
