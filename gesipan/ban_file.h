// gesipan ban / unban: the ban list named by GuestBook.conf's BAN_LIST
// line, changed by writing beside it and renaming, its owner and mode kept.
#pragma once

#include <string>
#include <vector>

// `list` with each entry added (at the end, as the programs read it) or
// taken out. Entries are compared in their canonical form: an address as
// inet_ntop writes it, a word in any case. `*changed` lists what changed.
std::string withBans(const std::string& list, const std::vector<std::string>& entries, std::vector<std::string>* changed);
std::string withoutBans(const std::string& list, const std::vector<std::string>& entries,
                        std::vector<std::string>* changed);

// Runs `gesipan ban` (`adding`) or `gesipan unban` with `entries` on the
// ban list at `path`; returns the tool's exit status.
int changeBanList(const std::string& path, bool adding, const std::vector<std::string>& entries);
