// ShowPage's page object: one message, its read count raised on each view.
#pragma once

#include <memory>
#include <string>

#include "board_store.h"
#include "cgi_page.h"

class ViewPage : public CgiPage {
public:
    // Decodes the query, reads the configuration, then takes the board's
    // lock (exclusive, or shared when that cannot be had) and reads
    // TextCount into messageCount.
    int decodeRequest() override;

    // Ends the run with the error page when textNum names no record.
    void requireStoredMessage();

    // Reads record textNum and its body file, then raises its ReadCount
    // when the exclusive lock is held; the lock goes after it.
    void BumpReadCount();

    void printMessagePage();

private:
    // Ends the run with the common error page around `message`.
    [[noreturn]] void refuse(const char* message);

    // Reads the record's body file ("nofile" for an empty FileName).
    void readBody();

    // Locked from before the header is read until the body is read, so a
    // view never sees a half-made change and no count is lost.
    std::unique_ptr<BoardStore> store;
    bool counting = false;
    bool bodyFound = false;
    std::string body;
};
