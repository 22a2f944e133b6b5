// DropPage: erases one message of a board with the site password.
#pragma once

#include "page/guarded_page.h"

class BoardStore;
class CgiPage;

// Takes message textNum out of the locked store whose header was read.
// Returns 1 when a page was printed, -1 after a bare message line.
int eraseMessage(GuardedPage& page, BoardStore& store);

// The page that confirms the erase.
void printRemovedPage(const CgiPage& page);

// DropPage: the erase's steps; returns the exit status.
int dropPage(const Request& request);
