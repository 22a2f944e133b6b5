#include "page/change_guard.h"

ChangePermission comparePostedPassword(const PageInput& input, const SiteConfig& site, int position) {
    const std::string& posted = input.postedValue(position);
    ChangePermission permission;
    permission.compare(site.bbsDir.c_str(), input.visitor(site.trustedProxies), input.now,
                       posted.size() >= kPasswordFieldSize ? nullptr : posted.c_str(), site.password.c_str());
    return permission;
}

int denialPage(PageOut& out, const Frame& frame, const char* ownLine) {
    return errorPage(out, frame, Markup::raw(std::string("<font color=228b22 size=2>Access denied.</font><br>\n\t\t\t      ") + ownLine), 0);
}
