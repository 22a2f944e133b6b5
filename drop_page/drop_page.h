// DropPage: erases one message of a board, for the holder of the site's
// password.
#pragma once

#include "page/exchange.h"

int dropPage(const PageInput& input, const SiteConfig& site, Response& response);

// The password is the form's first posted value.
constexpr PageProgram kDropPage = {"DropPage.exe", dropPage, FormBody::Whole};
