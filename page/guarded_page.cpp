#include "page/guarded_page.h"

#include <cstring>

#include "page/response.h"
#include "permission/password_check.h"

int GuardedPage::decodeRequest() {
    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    decodePostedForm();
    const char* first = pairValue(0);
    passwordTooLong = std::strlen(first) >= sizeof postedPassword;
    copyField(postedPassword, sizeof postedPassword, passwordTooLong ? "" : first);
    int result = readConfig();
    if (result < 0) return result;
    permission.compare(bbsDir, visitor(), request().now, passwordTooLong ? nullptr : postedPassword, password);
    return result;
}

int GuardedPage::checkPassword() const { return permission.decide(); }

int GuardedPage::showDenial(const char* ownLine) {
    showDenialPage(*this, ownLine);
    return endPage(0);
}
