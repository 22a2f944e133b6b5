#include "page/change_guard.h"

#include "page/page_events.h"

ChangePermission comparePostedPassword(const PageInput& input, const SiteConfig& site, int position) {
    const std::string& posted = input.postedValue(position);
    ChangePermission permission;
    permission.compare(site.bbsDir.c_str(), input.visitor(site.trustedProxies), input.now,
                       posted.size() >= kPasswordFieldSize ? nullptr : posted.c_str(), site.password.c_str());
    return permission;
}

int denialPage(PageOut& out, const Frame& frame, const char* ownLine, const ChangePermission& permission,
               const SiteConfig& site, const PageInput& input) {
    const bool shutOut = permission.shutOut();
    logPageEvent(site, input, shutOut ? "locked_out" : "wrong_password", input.message);
    const Markup message =
        Markup::raw(std::string("<font color=228b22 size=2>Access denied.</font><br>\n\t\t\t      ") + ownLine);
    return errorPage(out, frame, Refusal{message, shutOut ? 429 : 403}, 0);
}
