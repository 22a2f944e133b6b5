// The two pages that change a stored message and the edit SavePage stores
// ask for the site's password; this is their check and their denial.
#pragma once

#include "config/site_config.h"
#include "page/page_frame.h"
#include "page/page_input.h"
#include "permission/password_check.h"

// A password field as the pages have always held it: a posted text this
// long or longer is a mismatch, never a cut match.
constexpr std::size_t kPasswordFieldSize = 256;

// The password posted at `position` compared with the site's, before any
// board is locked (a hash makes it slow); decide() then counts it.
ChangePermission comparePostedPassword(const PageInput& input, const SiteConfig& site, int position);

// The common error page with "Access denied." and the page's own line
// (403, or 429 for a visitor shut out for guessing), the refusal logged;
// returns its status, 0.
int denialPage(PageOut& out, const Frame& frame, const char* ownLine, const ChangePermission& permission,
               const SiteConfig& site, const PageInput& input);
