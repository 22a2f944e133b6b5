// SavePage's page object: a posted compose or edit form, stored and shown.
#pragma once

#include <string>

#include "page/cgi_page.h"

class BoardStore;
enum class StoreResult;

// Largest form body SavePage takes, in bytes; the web server's own limit is
// the same (server.max-request-size, LimitRequestBody).
constexpr int kMaxFormBody = 512 * 1024;

class SubmitPage : public CgiPage {
public:
    using CgiPage::CgiPage;

    // The steps that may end the page return 1, or -1 when they did.

    // Client host, date and time, the two query pairs, the form body, then
    // the configuration; `path` is left holding the board directory. A body
    // above kMaxFormBody ends the page with the error page, nothing stored.
    int decodeRequest() override;

    // 1 when name, subject and body were posted non-empty, else -1.
    int hasRequiredFields() const;

    // The page that asks for the missing fields; ends the page with status 0.
    int showMissingFieldsPage();

    // An edit (textNum other than -1) needs the site password as the
    // sixth posted value; ends the page with the denial page otherwise.
    int requireEditPermission();

    // Runs the post through the spam defences the configuration turns on;
    // ends the page with the error page when one refuses it.
    int requireSpamChecks();

    // Stores a new message or replaces message textNum, under the board's
    // lock, and writes its body file. Ends the page on any refusal.
    int storeMessage();

    void showStoredMessage();
    void showListLink();

    int contentLength = 0;
    int fileSerial = 0;
    // The body file's bytes as stored; the page shows them from here.
    std::string storedBody;
    const char* remoteHost = nullptr;
    // The visitor named by a trusted proxy; remoteHost then points here.
    std::string forwardedHost;
    char timeText[20] = "";
    char dateText[20] = "";
    char stampText[52] = "";

private:
    // The value posted at `position` (1 = name ... 5 = body, 6 = password),
    // or the empty text when the form had fewer pairs.
    const char* posted(int position) const;
    // The value of the field `name` posted after the five (and an edit's
    // password), or null.
    const char* postedAfterFields(const char* name) const;

    void fillRecord(bool newMessage);
    int storeNewMessage(BoardStore& store, bool freshStore, int count, int serial);
    int replaceMessage(BoardStore& store);
    // Ends the page with the page that tells why a change was not stored.
    int requireStored(StoreResult result);

    int refuse(const char* format, const char* detail = "");

    int postedCount = 0;
};

// SavePage: the post's steps; returns the exit status.
int savePage(const Request& request);
