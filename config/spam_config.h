// The spam defences' lines of GuestBook.conf. Each defence is off unless
// its line is there; older programs skip these lines as unknown words.
//   FORM_TOKEN PATH [SECONDS]  forms carry a token signed with the secret in PATH;
//                              a post must come SECONDS (3) after its form, within a day
//   HONEYPOT on                forms carry a field people never see; a post filling it is refused
//   LINK_LIMIT N               at most N links in body, subject and homepage together
//   POST_LIMIT N SECONDS       at most N new posts per visitor address in SECONDS
//   DUPLICATE_CHECK SECONDS    the same body again on a board within SECONDS is refused
//   BAN_LIST PATH              addresses, ranges and words kept out (UTF-8 text)
#pragma once

#include <string>

constexpr int kDefaultTokenWait = 3;

struct SpamConfig {
    std::string tokenSecretPath;  // empty: no form token
    int tokenWait = kDefaultTokenWait;
    bool honeypot = false;
    int linkLimit = -1;  // -1: no limit
    int postLimit = 0;   // 0: no limit
    long postWindow = 0;
    long duplicateWindow = 0;  // 0: no check
    std::string banListPath;

    // Takes the line whose first word is `key` and rest `value` when it is
    // one of the defences' lines; false for any other key. `understood`
    // is set false for a line of theirs whose value is not what it should
    // be (a word too many, a number that is none): its defence stays off.
    bool readLine(const char* key, const char* value, bool* understood);

    bool anyFormField() const { return !tokenSecretPath.empty() || honeypot; }
};
