// EditPage: the compose form filled with a stored message.
#pragma once

#include <string>

#include "guarded_page.h"

// The stored body as text-area content: every exact "<br>" dropped, "&"
// and the "<" of a closing textarea tag escaped so the browser gives back
// the same text.
std::string textAreaText(const std::string& body);

// The edit form of the message in `page.record`, with `body` from its file.
void printEditForm(const GuardedPage& page, const std::string& body);
