// EditPage: the compose form filled with a stored message, for the holder
// of the site's password.
#pragma once

#include "page/exchange.h"

int editPage(const PageInput& input, const SiteConfig& site, Response& response);

// The password is the form's first posted value.
constexpr PageProgram kEditPage = {"EditPage.exe", editPage, FormBody::Whole};
