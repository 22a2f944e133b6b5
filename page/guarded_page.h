// The page object of the two programs that change a stored message:
// they need the site password, posted as the form's first value.
#pragma once

#include "page/cgi_page.h"
#include "permission/password_check.h"

class GuardedPage : public CgiPage {
public:
    using CgiPage::CgiPage;

    // Two query pairs, the form body, the first posted value as the
    // password, then the configuration; then the password is compared,
    // before any board is locked.
    int decodeRequest() override;

    // 1 when the posted password is the site's and the client is not
    // shut out for guessing, else -1 (and a wrong password is counted).
    int checkPassword() const;

    // The denial page with the program's own line; ends the page with
    // status 0 and returns -1.
    int showDenial(const char* ownLine);

    char postedPassword[kTextSize] = "";

private:
    // A posted value too long for the field is a mismatch, never a cut match.
    bool passwordTooLong = false;
    mutable ChangePermission permission;
};
