// ListPage's steps on the plain page object: one page of a board's
// messages, ten at a time, newest first, or the no-data page.
#pragma once

#include "page/cgi_page.h"

class BoardStore;

constexpr int kListPageSize = 10;

// ListPage: the listing's steps in their order; returns the exit status.
int listPage(const Request& request);

// Reads TextCount into messageCount; returns 1, or -1 after printing the
// no-data page when the board has no index file (or ending the page).
int readTextCount(CgiPage& page, BoardStore& store);

// The page head and the column header row; leaves the table open.
void printListHead(const CgiPage& page);

// Sets pageFirst..pageLast from messageCount and textNum.
void setPageRange(CgiPage& page);

// The rows from pageLast down to pageFirst, the links and the footer.
void printList(CgiPage& page, BoardStore& store);

void printNoDataPage(const CgiPage& page);

// Lines shared by the listing and the no-data page.
void printBoardTitle(const CgiPage& page);
void printListFooter(const CgiPage& page);

// Ends the page when the board directory and the index's name do not fit
// `path`; returns 1, or -1 when it did.
int setIndexPathOrRefuse(CgiPage& page);
