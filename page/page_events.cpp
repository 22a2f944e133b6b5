#include "page/page_events.h"

void logPageEvent(const SiteConfig& site, const PageInput& input, const char* kind, int message,
                  const std::string& detail) {
    if (site.eventLog.empty()) return;
    Event event;
    event.time = input.now;
    event.kind = kind;
    event.board = input.board;
    event.message = message;
    event.address = input.visitor(site.trustedProxies);
    event.detail = detail;
    logEvent(site.eventLog, event);
}
