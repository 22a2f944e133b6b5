#include "page/spam_form_fields.h"

#include <string>

#include "spam/form_token.h"
#include "store/state_file.h"

void printSpamFields(PageOut& out, const SiteConfig& site, int board, std::time_t now) {
    const SpamConfig& config = site.spam;
    if (!config.tokenSecretPath.empty()) {
        std::string secret = readSiteSecret(config.tokenSecretPath);
        if (secret.empty()) {
            reportDefenceOff("no site secret there", config.tokenSecretPath, site.eventLog);
        } else {
            std::string token = makeFormToken(secret, board, now, freshNonce());
            out.put("<input type=hidden name=%s value=\"%s\">\n", kTokenField, token);
        }
    }
    if (config.honeypot) {
        // Screen readers and browsers without the hidden attribute show the label.
        out.put("<div hidden><label>이 칸은 비워 두세요 (leave this field empty) "
                "<input type=text name=%s value=\"\" tabindex=-1 autocomplete=off></label></div>\n",
                kHoneypotField);
    }
}
