// FrontPage: the site's boards by their text titles, each with the number
// of its messages and links to its listing and feed; served at "/".
// A site without TITLE lines answers 403, as "/" always has.
#pragma once

#include "page/exchange.h"

int frontPage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kFrontPage = {"FrontPage.exe", frontPage, FormBody::None, true};
