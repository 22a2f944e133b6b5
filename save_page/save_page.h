// SavePage: a posted compose or edit form, stored and shown.
#pragma once

#include <string>

#include "page/exchange.h"
#include "page/html_out.h"
#include "page/page_frame.h"
#include "store/index_format.h"

class BoardStore;

int savePage(const PageInput& input, const SiteConfig& site, Response& response);

constexpr PageProgram kSavePage = {"SavePage.exe", savePage, FormBody::Limited};

// A post as SavePage stores it: the form's five texts by position, the
// poster's host, and when.
struct Post {
    int board = 0;
    int message = 0;  // -1: a new message
    const std::string* texts[5];  // name, email, homepage, subject, body
    std::string host;  // REMOTE_HOST, else the address; a trusted proxy's visitor
    char dateText[20] = "";
    char timeText[20] = "";
};

// What storing a post came to: Done with the record as stored and its body
// file's bytes, or the error page's message (or, for a body file that could
// not be written, the bare line `bareLine`).
struct StoredPost {
    bool done = false;
    char record[kRecordSize] = {};
    std::string body;
    Refusal refusal;
    std::string bareLine;
    // For the owner's log: the message stored, or what refused it.
    int number = 0;
    std::string refusedBy;
};

// Stores `post` in `board`'s store (a new message or a replaced one), under
// the board's lock; the committed change is left in `store`.
StoredPost storePost(const Post& post, const BoardSettings& board, const Frame& frame, const SiteConfig& site,
                     BoardStore& store, std::time_t now);
