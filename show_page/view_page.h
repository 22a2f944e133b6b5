// ShowPage's page object: one message, its read count raised on each view.
#pragma once

#include <memory>
#include <string>

#include "store/board_store.h"
#include "page/cgi_page.h"

class ViewPage : public CgiPage {
public:
    using CgiPage::CgiPage;

    // Decodes the query, reads the configuration, then takes the board's
    // lock (exclusive, or shared when that cannot be had) and reads
    // TextCount into messageCount.
    int decodeRequest() override;

    // Each step returns 1, or -1 when it ended the page.

    // Ends the page with the error page when textNum names no record.
    int requireStoredMessage();

    // Reads record textNum and its body file, then raises its ReadCount
    // when the exclusive lock is held; the lock goes after it.
    int BumpReadCount();

    int printMessagePage();

private:
    // Ends the page with the common error page around `message`.
    int refuse(const char* message);

    // Reads the record's body file ("nofile" for an empty FileName).
    int readBody();

    // Locked from before the header is read until the body is read, so a
    // view never sees a half-made change and no count is lost.
    std::unique_ptr<BoardStore> store;
    bool counting = false;
    bool bodyFound = false;
    std::string body;
};

// ShowPage: the view's steps; returns the exit status.
int showPage(const Request& request);
