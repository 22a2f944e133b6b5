// FeedPage: a board's newest messages as an Atom 1.0 feed in UTF-8, for
// feed readers; on a site whose FEED line is on.
#pragma once

#include "page/exchange.h"

constexpr int kFeedSize = 20;

int feedPage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kFeedPage = {"FeedPage.exe", feedPage, FormBody::None, true};
