// The fields the compose and edit forms carry for the spam defences: the
// form token and the honeypot. They come after every field the forms had,
// so the values SavePage reads by position stay where they were.
#pragma once

#include <ctime>

#include "page/html_out.h"
#include "config/site_config.h"

constexpr char kTokenField[] = "token";
// A name that form-filling robots take for a field to fill.
constexpr char kHoneypotField[] = "website";

// Prints the fields the configuration asks for (nothing when it asks for
// none): the token of a form of `board` served at `now`, signed with the
// secret read from the configured file, and the honeypot, hidden by the
// markup itself (the page's policy allows no style attribute).
void printSpamFields(PageOut& out, const SiteConfig& site, int board, std::time_t now);
