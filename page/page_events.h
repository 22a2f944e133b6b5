// The events a page writes to the owner's log (EVENT_LOG), with the time,
// the board and the visitor of its request.
#pragma once

#include <string>

#include "config/site_config.h"
#include "events/event_log.h"
#include "page/page_input.h"

void logPageEvent(const SiteConfig& site, const PageInput& input, const char* kind, int message,
                  const std::string& detail = "");
