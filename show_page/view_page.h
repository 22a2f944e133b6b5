// ShowPage's page object: one message, its read count raised on each view.
#pragma once

#include "board_lock.h"
#include "cgi_page.h"

class ViewPage : public CgiPage {
public:
    // Decodes the query, reads the configuration, then takes the board's
    // lock and reads TextCount into messageCount.
    int decodeRequest() override;

    // Ends the run with the error page when textNum names no record.
    void requireStoredMessage();

    // Opens the index for update into `stream`; 1, or -1 after its message.
    int openForUpdate();

    // Raises ReadCount of record textNum, writes it back and closes the
    // index; the lock goes with it.
    void BumpReadCount();

    // The body file path into `path` ("nofile" for an empty FileName).
    void setBodyPath();

    void printMessagePage();

private:
    // Ends the run with the common error page around `message`.
    [[noreturn]] void refuse(const char* message);

    // Exclusive from before the header is read until the count is written,
    // so a view never sees a half-written store and no count is lost.
    BoardLock boardLock;
};
