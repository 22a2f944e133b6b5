// The page object that every program runs its request through, and the
// page shell that all programs share (error page, credit block).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "page/exchange.h"
#include "page/form_decoding.h"
#include "spam/spam_config.h"
#include "site/visitor_address.h"

constexpr int kTextSize = 256;
constexpr char kVersion[] = "2.13";

// The message of the error page when a board's lock cannot be had.
constexpr char kCantLock[] = "<font color=228b22 size=3>The board is locked and cannot be changed now!!!</font><br>";
// The message of the error page for an index that disagrees with its count
// (printf format: the index's path).
constexpr char kDamagedIndex[] = "<font color=228b22 size=3>The index file %s is damaged!!!</font><br>";

class CgiPage {
public:
    explicit CgiPage(const Request& request);
    virtual ~CgiPage();
    CgiPage(const CgiPage&) = delete;
    CgiPage& operator=(const CgiPage&) = delete;

    // Decodes the first two query pairs into boardNum and textNum, then
    // reads the configuration; returns readConfig's result.
    virtual int decodeRequest();

    // Reads GuestBook.conf into the configuration fields; returns 1. Ends
    // the page with the error page and status 1 (and returns -1) when the
    // file cannot be read or names a board directory that does not fit.
    virtual int readConfig();

    // Ends the page with `status` once its last line is printed; returns
    // -1, which the step hands back so that no later step runs.
    int endPage(int status);
    // The status the page ended with; 0 for a page that ran to its end.
    int endStatus() const { return endStatus_ < 0 ? 0 : endStatus_; }

    const Request& request() const { return request_; }

    int getMessageCount() const { return messageCount; }
    int getBoardNum() const { return boardNum; }
    int getTextNum() const { return textNum; }
    const char* getBaseDir() const { return baseDir; }
    const char* getBoardDir() const { return boardDir; }
    const char* getEmail() const { return email; }
    const char* getTitleImage() const { return titleImage; }
    const char* getPassword() const { return password; }

    // Writes `value` in decimal into `buffer` and returns it.
    static char* intToText(int value, char* buffer, std::size_t size);

    // Prints the common error page with `message` (HTML) in its middle.
    // Returns; the caller ends the page.
    void showErrorPage(const char* message);

    // The value of pair k, or the empty text when the decoding did not set it.
    const char* pairValue(int k) const;

    // Fills `path` with the board directory followed by `name`. Returns 1,
    // or -1 (and leaves `path` empty) when the path would not fit.
    int setBoardPath(const char* name);

    int pageFirst;
    int pageLast;
    char* header;
    char* record;
    FormPair* pairs;
    int pairCount;  // entries of `pairs` that the decoding set
    char* queryString;
    char path[kTextSize];
    int boardNum;
    int textNum;
    int messageCount;
    std::FILE* stream;
    char baseDir[kTextSize];
    char boardDir[kTextSize];
    char email[kTextSize];
    char eraseDomain[kTextSize];
    char titleImage[kTextSize];
    char password[kTextSize];
    // BBS_DIR as configured: where the boards and the guessing record lie.
    char bbsDir[kTextSize];
    // The spam defences' lines; all off when the configuration has none.
    SpamConfig spam;
    // TRUSTED_PROXY lines: the reverse proxies believed about the visitor.
    TrustedProxies trustedProxies;
    // REMOTE_ADDR and X-Forwarded-For as the server passed them (empty:
    // absent), from the request.
    const char* remoteAddr;
    const char* forwardedFor;

    // The visitor's address, once the configuration is read.
    std::string visitor() const { return visitorAddress(remoteAddr, forwardedFor, trustedProxies); }

protected:
    // Cuts `count` tokens off the query string into pairs 0 .. count-1.
    void decodeQueryPairs(int count);

    // Decodes the request's form body over the pairs from entry 0.
    // Returns the number of pairs posted.
    int decodePostedForm();

private:
    const Request& request_;
    // The query as it is cut into pairs.
    std::string queryText_;
    int endStatus_ = -1;
};

// Copies `text` into a field of `size` bytes, cut to fit.
void copyField(char* field, std::size_t size, const char* text);

// The four credit lines of every page footer; the first opens the font
// element that the page closes after its mail link.
void printCreditBlock(const char* version);

// Lines 1 to 3 of every page: html, head with the title, body.
void printPageHead(const char* version, const char* bodyColour);
