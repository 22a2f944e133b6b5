// EditPage: the compose form filled with a stored message.
#pragma once

#include <string>

#include "page/guarded_page.h"

// The edit form of the message in `page.record`, with `body` from its file.
void printEditForm(const GuardedPage& page, const std::string& body);

// EditPage: the edit form's steps; returns the exit status.
int editPage(const Request& request);
