// The ban list: a UTF-8 text file the owner edits (or changes with
// `gesipan ban` and `gesipan unban`), one entry a line: an IPv4 or IPv6
// address, a range of them as ADDRESS/BITS, or a word. Blank lines and
// lines starting with "#" are comments. A post from a listed address or
// range, or holding a listed word in any of its texts (ASCII letters in
// any case), is refused. Words are turned into the posts' code page once
// per request; a word with a character other than ASCII and Hangul
// syllables is reported and left out.
#pragma once

#include <string>
#include <vector>

// The most of the list a post reads (and gesipan changes).
constexpr std::size_t kMaxBanListBytes = 1024 * 1024;

enum class BanKind { Address, Range, Word, None };

// What the line `entry` is (trimmed of blanks); `*canonical` the form
// gesipan writes: an address or range as inet_ntop writes it, a word as
// it stands.
BanKind classifyBanEntry(const std::string& entry, std::string* canonical);

class BanList {
public:
    // Reads the list's text; `*unusable` gets the words that cannot be
    // compared with posts.
    void parse(const std::string& text, std::vector<std::string>* unusable);

    bool bansAddress(const std::string& address) const;
    // `text` in the posts' code page, judged by what a reader sees of it
    // (see readerText), as `gesipan erase --word` judges stored texts.
    bool bansText(const char* text) const;

    bool empty() const { return ranges_.empty() && words_.empty(); }

private:
    struct Range {
        std::string bytes;  // 4 or 16 bytes
        int bits;
    };
    std::vector<Range> ranges_;
    std::vector<std::string> words_;  // ASCII letters in small case
};

// The entries of the list's text as lines (comments and blanks kept, a
// leading byte-order mark dropped, a CR before a line's end kept), for gesipan.
std::vector<std::string> banListLines(const std::string& text);
