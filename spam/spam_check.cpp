#include "spam/spam_check.h"

#include <cerrno>
#include <vector>

#include "spam/ban_list.h"
#include "store/durable_file.h"
#include "spam/form_token.h"
#include "spam/link_count.h"
#include "spam/posting_limit.h"
#include "store/state_file.h"

namespace {

TokenVerdict checkToken(const SpamConfig& config, const std::string& eventLog, std::time_t now, const PostedForm& form) {
    std::string secret = readSiteSecret(config.tokenSecretPath);
    if (secret.empty()) {
        reportDefenceOff("no site secret there", config.tokenSecretPath, eventLog);
        return TokenVerdict::Valid;
    }
    return checkFormToken(secret, form.board, now, config.tokenWait, form.token ? form.token : "");
}

bool isBanned(const SpamConfig& config, const std::string& eventLog, const PostedForm& form) {
    std::string text;
    int read = readWholeFile(config.banListPath.c_str(), &text, kMaxBanListBytes);
    if (read < 0 && errno == EFBIG) {
        // No list the owner keeps grows this long; the post is not held up reading it.
        reportDefenceOff("longer than 1 MiB, not read", config.banListPath, eventLog);
        return false;
    }
    if (read <= 0) {
        reportDefenceOff("cannot be read", config.banListPath, eventLog);
        return false;
    }
    BanList list;
    std::vector<std::string> unusable;
    list.parse(text, &unusable);
    for (const std::string& word : unusable) {
        reportDefenceOff(("word left out, only ASCII and Hangul can be compared: " + word).c_str(), config.banListPath,
                         eventLog);
    }
    if (list.bansAddress(form.visitor)) return true;
    for (const char* posted : form.texts) {
        if (list.bansText(posted)) return true;
    }
    return false;
}

int linksIn(const PostedForm& form) {
    return postLinks(form.texts[0], form.texts[2], form.texts[3], form.texts[4]);
}

}  // namespace

SpamVerdict checkPostedForm(const SpamConfig& config, const DefenceRecords& records, std::time_t now, const PostedForm& form,
                            const char** defence) {
    const char* unused = nullptr;
    const char*& by = defence ? *defence : unused;
    by = "honeypot";
    if (config.honeypot && form.honeypot && form.honeypot[0]) return SpamVerdict::SendAgain;
    by = "form_token";
    bool tokenOn = !config.tokenSecretPath.empty();
    if (tokenOn) {
        TokenVerdict token = checkToken(config, records.eventLog, now, form);
        if (token == TokenVerdict::TooSoon) return SpamVerdict::Wait;
        if (token != TokenVerdict::Valid) return SpamVerdict::SendAgain;
    }
    by = "link_limit";
    if (config.linkLimit >= 0 && linksIn(form) > config.linkLimit) return SpamVerdict::TooManyLinks;
    by = "ban_list";
    if (!config.banListPath.empty() && isBanned(config, records.eventLog, form)) return SpamVerdict::Banned;
    by = "post_limit";
    if (form.newPost && config.postLimit > 0 &&
        !allowPost(records, form.visitor, now, config.postLimit, config.postWindow)) {
        return SpamVerdict::Wait;
    }
    // Last, so a form refused above may be sent again once mended.
    by = "form_token";
    if (tokenOn && form.token && useFormToken(records, now, form.token) == TokenVerdict::Used) {
        return SpamVerdict::SendAgain;
    }
    by = nullptr;
    return SpamVerdict::Pass;
}

const char* refusalMessage(SpamVerdict verdict) {
    switch (verdict) {
        case SpamVerdict::Wait:
            return "<font color=228b22 size=3>잠시 기다렸다가 다시 올려 주세요!!!<br>"
                   "Please wait a little (a few minutes at most), then send the form again!!!</font><br>";
        case SpamVerdict::SendAgain:
            return "<font color=228b22 size=3>글쓰기 화면을 새로 열어 다시 보내 주세요!!!<br>"
                   "Please open the form anew (reload it), then send it again!!!</font><br>";
        case SpamVerdict::TooManyLinks:
            return "<font color=228b22 size=3>링크가 너무 많습니다. 몇 개를 지우고 다시 올려 주세요!!!<br>"
                   "Too many links: please remove some, then send the form again!!!</font><br>";
        case SpamVerdict::Duplicate:
            return "<font color=228b22 size=3>같은 글이 이미 올라와 있습니다. 다시 올리지 않아도 됩니다!!!<br>"
                   "This message is on the board already: there is no need to post it again!!!</font><br>";
        case SpamVerdict::Banned:
            return "<font color=228b22 size=3>이 글은 올릴 수 없습니다. 게시판 관리자에게 메일을 보내 주세요!!!<br>"
                   "This message cannot be posted here: please write to the board's administrator!!!</font><br>";
        case SpamVerdict::Pass: break;
    }
    return "";
}
