#include "permission/password_check.h"

#include <crypt.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "permission/guess_throttle.h"

namespace {

// A password field as the pages have always held it; a longer posted text
// never matches.
constexpr std::size_t kTextSize = 256;

// Compares over the whole field width whatever the lengths, so that
// neither the length nor the first differing byte shows in the time.
int sameText(const char* posted, const char* configured) {
    std::size_t postedLength = strnlen(posted, kTextSize);
    std::size_t configuredLength = strnlen(configured, kTextSize);
    unsigned difference = postedLength == configuredLength ? 0u : 1u;
    difference |= postedLength >= kTextSize ? 1u : 0u;
    difference |= configuredLength == 0 ? 1u : 0u;
    for (std::size_t i = 0; i < kTextSize; ++i) {
        unsigned char a = i < postedLength ? static_cast<unsigned char>(posted[i]) : 0;
        unsigned char b = i < configuredLength ? static_cast<unsigned char>(configured[i]) : 0;
        difference |= static_cast<unsigned>(a ^ b);
    }
    return difference == 0 ? 1 : -1;
}

}  // namespace

bool isPasswordHash(const char* configured) {
    if (configured[0] != '$') return false;
    const char* p = configured + 1;
    while ((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9')) ++p;
    return p > configured + 1 && *p == '$';
}

int passwordMatches(const char* posted, const char* configured) {
    if (!isPasswordHash(configured)) return sameText(posted, configured);
    if (strnlen(posted, kTextSize) >= kTextSize) return -1;
    // crypt_data is large; the heap keeps it off a small stack.
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_rn(posted, configured, data.get(), sizeof *data);
    // A setting crypt does not know gives a failure token starting with "*".
    if (!hashed || hashed[0] == '*') return -1;
    return sameText(hashed, configured);
}

void ChangePermission::compare(const char* stateDir, const std::string& visitor, std::time_t now, const char* posted,
                               const char* configured) {
    stateDir_ = stateDir;
    visitor_ = clientAddress(visitor.c_str());
    now_ = now;
    compared_ = true;
    counted_ = false;
    shutOut_ = GuessThrottle(stateDir, visitor_.c_str(), now_).shutOut();
    right_ = !shutOut_ && posted && passwordMatches(posted, configured) > 0;
}

int ChangePermission::decide() {
    if (!compared_ || shutOut_) return -1;
    // One comparison is counted once, however often it is asked for.
    if (!counted_) GuessThrottle(stateDir_.c_str(), visitor_.c_str(), now_).record(right_);
    counted_ = true;
    return right_ ? 1 : -1;
}
