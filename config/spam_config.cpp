#include "config/spam_config.h"

#include <cstdio>
#include <cstring>

namespace {

// A count or a number of seconds; false for anything else, so that a
// mistyped line leaves its defence off rather than set to nonsense.
bool positiveNumber(const char* text, long* number) {
    char rest;
    long value;
    if (std::sscanf(text, "%ld %c", &value, &rest) != 1 || value <= 0 || value > 100L * 365 * 86400) return false;
    *number = value;
    return true;
}

}  // namespace

bool SpamConfig::readLine(const char* key, const char* value, bool* understood) {
    long number = 0;
    long window = 0;
    char extra[2] = "";
    *understood = true;
    if (std::strcmp(key, "FORM_TOKEN") == 0) {
        char path[256] = "";
        char wait[32] = "";
        int words = std::sscanf(value, "%255s %31s %1s", path, wait, extra);
        tokenSecretPath = words >= 1 ? path : "";
        tokenWait = kDefaultTokenWait;
        if (words == 2 && positiveNumber(wait, &number)) tokenWait = static_cast<int>(number);
        if (words == 2 && std::strcmp(wait, "0") == 0) tokenWait = 0;
        *understood = words == 1 || (words == 2 && (positiveNumber(wait, &number) || std::strcmp(wait, "0") == 0));
    } else if (std::strcmp(key, "HONEYPOT") == 0) {
        honeypot = std::strcmp(value, "on") == 0;
        *understood = honeypot || std::strcmp(value, "off") == 0;
    } else if (std::strcmp(key, "LINK_LIMIT") == 0) {
        linkLimit = std::strcmp(value, "0") == 0 ? 0 : (positiveNumber(value, &number) ? static_cast<int>(number) : -1);
        *understood = linkLimit >= 0;
    } else if (std::strcmp(key, "POST_LIMIT") == 0) {
        char count[32] = "";
        char seconds[32] = "";
        bool valid = std::sscanf(value, "%31s %31s %1s", count, seconds, extra) == 2 && positiveNumber(count, &number) &&
                     positiveNumber(seconds, &window) && number <= 1000;
        postLimit = valid ? static_cast<int>(number) : 0;
        postWindow = valid ? window : 0;
        *understood = valid;
    } else if (std::strcmp(key, "DUPLICATE_CHECK") == 0) {
        duplicateWindow = positiveNumber(value, &number) ? number : 0;
        *understood = duplicateWindow > 0;
    } else if (std::strcmp(key, "BAN_LIST") == 0) {
        banListPath = value;
        *understood = value[0] != '\0' && !std::strpbrk(value, " \t");
    } else {
        return false;
    }
    return true;
}
