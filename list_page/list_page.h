// ListPage: one page of a board's messages, ten at a time, newest first,
// or the no-data page.
#pragma once

#include "page/exchange.h"

constexpr int kListPageSize = 10;

// The numbers of the messages a listing shows, newest last.
struct ListRange {
    int first;
    int last;
};

// The range for a board of `count` messages when the query asks for
// `asked` (0: the newest page).
ListRange listRange(int count, int asked);

int listPage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kListPage = {"ListPage.exe", listPage, FormBody::None};
