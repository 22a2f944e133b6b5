// The site's configuration, GuestBook.conf: one reader and one type for the
// pages, the responder and the operator's tool. Read once per CGI run;
// kept by the responder while the file is unchanged.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "config/visitor_address.h"
#include "config/spam_config.h"

constexpr char kSiteConfigName[] = "GuestBook.conf";
// A line longer than this, newline excluded, is cut; its rest is read as the
// next line. Each value is what is left of its line.
constexpr int kConfigLineSize = 256;

// One board as the pages see it.
struct BoardSettings {
    std::string dir;         // BBS_DIR, the number and "/"; empty: no board line
    bool dirTooLong = false; // the directory would not fit a page's path field
    std::string titleImage;  // its image in Image/
    std::string email;       // its own address, else EMAIL

    // True when the directory and `name` fit a page's path field (as the
    // pages have always held a path), so that no cut path names another file.
    bool fits(const char* name) const;
};

class SiteConfig {
public:
    enum class Status { Read, CannotOpen, ReadError };

    // Read: the whole file was read; otherwise the values hold what was read
    // before the error (nothing when it could not be opened).
    Status status = Status::CannotOpen;

    // Each the last line of its key.
    std::string baseDir;
    std::string bbsDir;
    std::string email;
    std::string password;  // the password or its crypt hash; empty: closed
    // Kept from older sites' files; no page reads it.
    std::string eraseDomain;
    TrustedProxies trustedProxies;
    SpamConfig spam;
    // EVENT_LOG: the file events are appended to; empty: none are written.
    std::string eventLog;
    // STATUS_CODES on: refusals and failures answer with an HTTP status
    // other than 200 (the same page), and name no server path.
    bool statusCodes = false;
    // The directive lines whose value is not what their key takes ("line
    // 12: HONEYPOT on spam"): the site is not served until they are mended.
    std::vector<std::string> faults;

    // Pages for phones: PHONE_PAGES on.
    bool phonePages = false;
    // What the message page shows of the poster's address: ADDRESS_SHOWN
    // whole (as without the line), masked (any other word), hidden.
    enum class AddressShown { Whole, Masked, Hidden };
    AddressShown addressShown = AddressShown::Whole;
    // A feed per board: FEED on.
    bool feed = false;
    // A board's text title: TITLE N text, the last line of its number.
    std::map<int, std::string> titles;

    // Board `number` as its lines (the last one, and any EMAIL line after it)
    // leave it.
    BoardSettings board(int number) const;

    // Every board that has a line, with its directory.
    std::map<int, BoardSettings> boards() const;

    // Takes one line of the file (as the line reader gives it).
    void readLine(char* line);

private:
    void noteFault(const char* key, const char* value);

    // A board line with what BBS_DIR was when it was met: the directory
    // depends on the order of the lines, as does the board's address.
    struct BoardLine {
        int sequence;
        std::string number;  // the board number as written
        std::string titleImage;
        std::string mail;
        std::string bbsDir;
    };
    std::vector<BoardLine> boardLines_;
    int lines_ = 0;
    int emailSequence_ = -1;
};

// Reads the configuration at `path`.
SiteConfig readSiteConfig(const char* path = kSiteConfigName);

// The configuration a responder keeps: read again only when the file's
// status (inode, size, times) has changed since it was last read whole,
// and while the file is less than two seconds old.
class SiteConfigCache {
public:
    explicit SiteConfigCache(std::string path = kSiteConfigName) : path_(std::move(path)) {}
    const SiteConfig& current();
    // How many times the file was read.
    int reads() const { return reads_; }

private:
    std::string path_;
    SiteConfig config_;
    bool valid_ = false;
    int reads_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t size_ = 0;
    timespec modified_ = {};
    timespec changed_ = {};
};
