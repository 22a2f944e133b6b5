// Counting the links in a post's texts.
#pragma once

// The links in `text`: each "http://", "https://", "ftp://" or "www."
// (any case) followed by at least one byte of an address; "www." right
// after such a scheme is the same link. The compose form's "http://" alone
// is no link.
int countLinks(const char* text);
