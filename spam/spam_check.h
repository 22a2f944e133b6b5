// The spam defences a posted compose or edit form passes through, in one
// call, and the sentence a refused visitor reads. A refusal tells a person
// what to do, not which defence caught the post.
#pragma once

#include <ctime>
#include <string>

#include "config/spam_config.h"
#include "store/state_file.h"

enum class SpamVerdict { Pass, Wait, SendAgain, TooManyLinks, Duplicate, Banned };

struct PostedForm {
    int board = 0;
    bool newPost = true;  // an edit is not counted against the posting limit
    std::string visitor;  // the visitor's address
    const char* texts[5] = {"", "", "", "", ""};  // name, email, homepage, subject, body
    const char* token = nullptr;     // null: not posted
    const char* honeypot = nullptr;  // null: not posted
};

// Every defence the configuration turns on but the duplicate check (which
// runs under the board's lock): honeypot, token, links, ban list, posting
// limit, and last the token's single use, their records in `records`.
// `defence` (when given) receives the name of the defence that refused,
// for the owner's log: "honeypot", "form_token", "link_limit", "ban_list",
// "post_limit".
SpamVerdict checkPostedForm(const SpamConfig& config, const DefenceRecords& records, std::time_t now, const PostedForm& form,
                            const char** defence = nullptr);

// The error page's message for a refusal.
const char* refusalMessage(SpamVerdict verdict);
