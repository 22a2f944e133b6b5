// Setting the site password: its crypt(3) hash in GuestBook.conf.
#pragma once

#include <cstdio>
#include <string>

// A yescrypt hash of `password`; empty when crypt fails.
std::string hashPassword(const std::string& password);

// `conf` with its Password line set to `value`: the last Password line
// replaced, earlier ones (dead, but maybe holding an old password in
// plain text) dropped, a line added when there is none. Line ends kept.
std::string withPassword(const std::string& conf, const std::string& value);

// Replaces the file at `path` by `text` in one rename, with the old file's
// owner and mode; never through a symbolic link. False (and `error`) on failure.
bool replaceConfig(const std::string& path, const std::string& text, std::string* error);

// Reads the new password twice: from the terminal without echo, or two
// lines of `in` when it is no terminal. False (and `error`) when they
// differ, are empty or cannot be read.
bool readNewPassword(std::FILE* in, std::FILE* prompt, std::string* password, std::string* error);
