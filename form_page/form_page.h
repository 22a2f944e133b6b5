// FormPage: the empty form for a new message.
#pragma once

#include "page/exchange.h"

int formPage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kFormPage = {"FormPage.exe", formPage, FormBody::None};
