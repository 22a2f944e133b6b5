// Counting the links in a post's texts: what a reader can follow once the
// page has printed them, not what was typed.
#pragma once

// The links in one text as the page prints it: each anchor with an href
// that the markup filter lets through, however its address is written,
// and each address written out as text outside them ("http://",
// "https://", "ftp://" or "www.", any case and references decoded,
// followed by at least one byte of an address; "www." right after such a
// scheme is the same link). The compose form's "http://" alone is no link.
int countLinks(const char* text);

// The links of a whole post: name, subject and body as countLinks counts
// them, and one for the homepage when the page prints it as a link to an
// address (not the form's bare "http://"). The e-mail is printed inside the
// page's own mailto link, and makes none. The posting check and `gesipan
// list` both count with this.
int postLinks(const char* name, const char* homepage, const char* subject, const char* body);
