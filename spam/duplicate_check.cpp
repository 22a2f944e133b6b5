#include "spam/duplicate_check.h"

#include <cstdio>
#include <nettle/sha2.h>
#include <sstream>

#include "store/state_file.h"

namespace {

const char kRecordHead[] = "gesipan bodies 1";
// Half the digest: no two bodies meet by chance, and the record, rewritten
// by every post, stays half as long.
constexpr std::size_t kFingerprintBytes = 16;

bool isWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

}  // namespace

std::string bodyFingerprint(const char* body) {
    std::string even;
    bool blank = false;
    for (const char* p = body; *p; ++p) {
        if (isWhite(*p)) {
            blank = !even.empty();
            continue;
        }
        if (blank) even += ' ';
        blank = false;
        even += *p;
    }
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, even.size(), reinterpret_cast<const uint8_t*>(even.data()));
    unsigned char digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    char text[2 * kFingerprintBytes + 1];
    for (std::size_t i = 0; i < kFingerprintBytes; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

std::vector<RecentBody> readRecentBodies(const std::string& record, std::time_t now, long window, bool* damaged) {
    std::vector<RecentBody> bodies;
    for (const std::string& line : recordLines(record, kRecordHead, damaged)) {
        if (bodies.size() >= static_cast<std::size_t>(kRecentBodies)) break;
        std::istringstream words(line);
        RecentBody body;
        std::string rest;
        if (!(words >> body.board >> body.time >> body.fingerprint) || (words >> rest) ||
            body.fingerprint.size() != 2 * kFingerprintBytes) {
            *damaged = true;
            continue;
        }
        if (now - body.time < window) bodies.push_back(body);
    }
    return bodies;
}

std::string formatRecentBodies(const std::vector<RecentBody>& bodies) {
    std::string text = std::string(kRecordHead) + "\n";
    for (const RecentBody& body : bodies) {
        text += std::to_string(body.board) + " " + std::to_string(body.time) + " " + body.fingerprint + "\n";
    }
    return text;
}

bool isRecentBody(const DefenceRecords& records, int board, const std::string& fingerprint, std::time_t now, long window) {
    StateFile file(records, kRecentBodiesName);
    std::string record;
    if (!file.lockAndRead(&record)) return false;
    bool damaged = false;
    bool found = false;
    for (const RecentBody& body : readRecentBodies(record, now, window, &damaged)) {
        if (body.board == board && body.fingerprint == fingerprint) found = true;
    }
    if (damaged) file.report("damaged, read as far as it goes");
    return found;
}

void rememberBody(const DefenceRecords& records, int board, const std::string& fingerprint, std::time_t now, long window) {
    StateFile file(records, kRecentBodiesName);
    std::string record;
    if (!file.lockAndRead(&record)) return;
    bool damaged = false;
    std::vector<RecentBody> bodies = readRecentBodies(record, now, window, &damaged);
    bodies.push_back(RecentBody{board, static_cast<long>(now), fingerprint});
    // Lines are in the order they were posted: the first is the oldest.
    if (bodies.size() > static_cast<std::size_t>(kRecentBodies)) bodies.erase(bodies.begin());
    if (!file.replace(formatRecentBodies(bodies))) file.report("cannot be written");
}
