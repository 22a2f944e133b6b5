// ShowPage: one message, its read count raised on each view.
#pragma once

#include "page/exchange.h"

int showPage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kShowPage = {"ShowPage.exe", showPage, FormBody::None};
