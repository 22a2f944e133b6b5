#include "guarded_page.h"

#include <cstdlib>
#include <cstring>

#include "output.h"
#include "permission.h"

int GuardedPage::decodeRequest() {
    remoteAddr = std::getenv("REMOTE_ADDR");
    forwardedFor = std::getenv("HTTP_X_FORWARDED_FOR");
    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    decodePostedForm();
    const char* first = pairValue(0);
    passwordTooLong = std::strlen(first) >= sizeof postedPassword;
    copyField(postedPassword, sizeof postedPassword, passwordTooLong ? "" : first);
    int result = readConfig();
    permission.compare(bbsDir, visitor(), passwordTooLong ? nullptr : postedPassword, password);
    return result;
}

int GuardedPage::checkPassword() const { return permission.decide(); }

void GuardedPage::showDenial(const char* ownLine) {
    showDenialPage(*this, ownLine);
    endRun(0);
}
