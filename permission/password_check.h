// The site password that guards editing and erasing.
#pragma once

#include <ctime>
#include <string>

// 1 when `posted` is the configured password, else -1. The configured
// value is either the password itself, compared byte for byte, or its
// crypt(3) hash ("$y$...", "$2b$...", "$6$...": a "$", an id of small
// letters and digits, a "$"), compared through crypt. A site without a
// password is closed: an empty `configured` never matches. A posted text
// of 256 bytes or more never matches. The time taken does not depend on
// where the texts differ.
int passwordMatches(const char* posted, const char* configured);

// True for a configured value in crypt's hash format.
bool isPasswordHash(const char* configured);

// The check of every change that needs the password, in two steps: the
// comparison, slow with a hash, may run before the board is locked; the
// decision counts a wrong password against the visitor's address.
class ChangePermission {
public:
    // `stateDir` is the configured BBS_DIR; `visitor` the address counted
    // and `now` the request's time; `posted` null stands for a value that
    // never matches. A visitor shut out for guessing costs no comparison.
    void compare(const char* stateDir, const std::string& visitor, std::time_t now, const char* posted,
                 const char* configured);

    // 1 when the client is not shut out and the password matched; else -1.
    int decide();

    // The client was shut out for guessing: no password was compared.
    bool shutOut() const { return shutOut_; }

private:
    std::string stateDir_;
    std::string visitor_;
    std::time_t now_ = 0;
    bool compared_ = false;
    bool counted_ = false;
    bool shutOut_ = false;
    bool right_ = false;
};
