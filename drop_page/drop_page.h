// DropPage: erases one message of a board with the site password.
#pragma once

#include "guarded_page.h"

class CgiPage;

// Takes message textNum out of the open index (`page.stream`, header
// read). Returns 1 when a page was printed, -1 after a bare message line.
int eraseMessage(GuardedPage& page);

// The page that confirms the erase.
void printRemovedPage(const CgiPage& page);
