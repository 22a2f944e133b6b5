// Setting the site password: its crypt(3) hash in GuestBook.conf.
#pragma once

#include <cstdio>
#include <string>

// The password fields of the edit and erase forms take this many characters.
constexpr std::size_t kFormPasswordLength = 10;

// Characters of a UTF-8 text, as a form field counts them.
std::size_t typedLength(const std::string& text);

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
// differ, are empty, are longer than the forms take, or cannot be read.
bool readNewPassword(std::FILE* in, std::FILE* prompt, std::string* password, std::string* error);
