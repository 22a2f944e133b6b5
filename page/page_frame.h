// The pieces every page is built of, each written once: the head, the
// board's title block, the footer with its credit lines, the notice page
// (the common error page and its kin) and the message table. A page calls
// them in its own order, between its own lines.
#pragma once

#include <optional>
#include <string>

#include "config/site_config.h"
#include "page/html_out.h"

constexpr char kVersion[] = "2.13";

// What the frame shows of the site around a page of one board.
struct Frame {
    std::string baseDir;  // URL prefix of cgi-bin/ and Image/
    int board = 0;
    std::string email;    // the footer's address
    std::string titleImage;
    // STATUS_CODES on: refusals answer with their HTTP status, and the
    // pages name a board's files without the server's directories.
    bool statusCodes = false;
    // The configuration's lines for phones and feeds, as pageBoard reads them.
    bool phonePages = false;
    bool feed = false;
    SiteConfig::AddressShown addressShown = SiteConfig::AddressShown::Whole;

    // `path` as a page may show it.
    std::string shown(const std::string& path) const;
};

// Why a page refuses: the error page's message, and the HTTP status it
// answers with when STATUS_CODES is on.
struct Refusal {
    Markup message;
    int http = 500;
};

// The board a page is about, as the configuration sets it, and the
// configuration's refusal of the page: the common error page's message
// when the file could not be read or the board's directory is too long.
struct PageBoard {
    BoardSettings settings;
    Frame frame;
    std::optional<Refusal> refusal;
};
PageBoard pageBoard(const SiteConfig& site, int number);

// "<html>", the head with the title, "<body>". With PHONE_PAGES the head
// also names the viewport and the site's stylesheet; the listing's head
// (`listing`) links the board's feed when FEED is on.
void pageHead(PageOut& out, const Frame& frame, const char* version, const char* bodyColour, bool listing = false);

// The poster's address as the message page shows it (ADDRESS_SHOWN):
// whole, masked ("203.0.*.*", the first two groups of an IPv6 address, the
// last two labels of a name), or empty when hidden.
std::string shownAddress(const std::string& host, SiteConfig::AddressShown shown);

// The board's title image over the book and the animated rule. The listing
// and the two forms draw it with their attributes in different orders.
enum class TitleLayout { Listing, Form };
void titleBlock(PageOut& out, const Frame& frame, TitleLayout layout);

// The end of the compose and edit forms: their table closed, the two
// buttons, the form closed.
void formButtons(PageOut& out);

// The rule, the credit lines and the mail link, to the end of the page.
enum class Footer {
    Notice,   // the notice pages and the stored message
    Message,  // the message view
    Listing,
    Form,     // the compose and edit forms
};
void footer(PageOut& out, const Frame& frame, Footer kind, const char* version = kVersion);

// The posting image back to the listing, over "Click". `boardKey` names the
// board in its query: the error page's link has always spelt it "BoadNum",
// which the listing reads all the same, by position.
void listingLink(PageOut& out, const Frame& frame, const char* boardKey);

// A whole page around `message`: the common error page, the denial and the
// removal notice. Returns `status`, the page's.
int noticePage(PageOut& out, const Frame& frame, const Markup& message, const char* boardKey, int status);

// The common error page with the refusal's message; returns `status`.
int errorPage(PageOut& out, const Frame& frame, const Refusal& refusal, int status = 1);

// The error page's messages that more than one page gives.
namespace refusal {
Refusal pathTooLong();
Refusal noSuchMessage(int number);
Refusal cantOpen(const Frame& frame, const std::string& path);
Refusal cantWrite(const Frame& frame, const std::string& path);
Refusal damagedIndex(const Frame& frame, const std::string& path);
Refusal boardLocked();
}  // namespace refusal

// One message as its header table and body table show it.
struct MessageShown {
    std::string subject;
    std::string textNum;
    std::string readCount;
    std::string name;
    std::string dateTime;
    std::string email;
    std::string host;
    std::string homepage;
    std::string lineCount;
    const std::string* body = nullptr;  // as its file holds it
    // The stored-message page sets the two numbers in the small font too.
    bool smallNumbers = false;
};
void messageTables(PageOut& out, const Frame& frame, const MessageShown& message);
