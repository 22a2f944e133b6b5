// SavePage: checks a posted form, stores it, and shows the message as it
// now stands with the way back to the listing.
#include "save_page.h"

#include <cstdio>
#include <ctime>

#include "page/change_guard.h"
#include "page/html_escape.h"
#include "page/page_events.h"
#include "page/page_frame.h"
#include "page/spam_form_fields.h"
#include "spam/spam_check.h"
#include "store/board_store.h"

namespace {

constexpr char kEditDenied[] = "<font color=454545 size=-1>손님은 수정하기 권한이 없습니다.</font><br>";

Refusal tooLongMessage() {
    char message[256];
    std::snprintf(message, sizeof message,
                  "<font color=228b22 size=3>글이 너무 깁니다. %d kB까지만 올릴 수 있습니다!!!<br>"
                  "The message is too long: at most %d kB may be posted!!!</font><br>",
                  kMaxFormBody / 1024, kMaxFormBody / 1024);
    return Refusal{Markup::raw(message), 413};
}

Post postOf(const PageInput& input, const SiteConfig& site) {
    Post post;
    post.board = input.board;
    post.message = input.message;
    for (int k = 0; k < 5; ++k) post.texts[k] = &input.postedValue(k + 1);
    // Servers may leave REMOTE_HOST out and give only the address; behind
    // a trusted proxy its name and address are the proxy's own.
    post.host = input.remoteHost ? *input.remoteHost : input.remoteAddr;
    if (forwardedByTrustedProxy(input.remoteAddr.c_str(), input.forwardedFor.c_str(), site.trustedProxies)) {
        post.host = input.visitor(site.trustedProxies);
    }
    std::tm local = {};
    localtime_r(&input.now, &local);
    std::strftime(post.dateText, sizeof post.dateText, "%Y년%m월%d일", &local);
    std::strftime(post.timeText, sizeof post.timeText, "%H시%M분", &local);
    return post;
}

int printMissingFieldsPage(PageOut& out, const Frame& frame) {
    if (frame.statusCodes) out.response().setStatus(400);
    pageHead(out, frame, kVersion, "white");
    out.put("<center>\n");
    out.put("<img border=0 src=%sImage/%s><br><br>\n", frame.baseDir, frame.titleImage);
    out.put("<img src=%sImage/line_ani.gif><br><br>\n", frame.baseDir);
    out.put("<font size=3>방문자의 이름, 제목, 내용을 써주세요!!!</font><br>\n");
    out.put("<font size=3>You should write your name, title and comment!!!</font></center>\n");
    out.put("<br><br><br>\n");
    out.put("<center><a href=%scgi-bin/FormPage.exe?BoardNum=%s><img border=0 src=%sImage/before.gif></a></center>\n",
            frame.baseDir, frame.board, frame.baseDir);
    out.put("</body>\n");
    out.put("</html>\n");
    return 0;
}

// The defences the configuration turns on; the refusal, or none.
std::optional<Refusal> spamRefusal(const PageInput& input, const SiteConfig& site, const BoardSettings& board) {
    // No board line: storing refuses it, and nothing is counted for it.
    if (board.dir.empty()) return std::nullopt;
    PostedForm form;
    form.board = input.board;
    form.newPost = input.message == -1;
    form.visitor = input.visitor(site.trustedProxies);
    for (int k = 0; k < 5; ++k) form.texts[k] = input.postedValue(k + 1).c_str();
    // The defences' fields come after the five texts (and an edit's password).
    const std::string* token = input.postedNamed(kTokenField, 6);
    const std::string* honeypot = input.postedNamed(kHoneypotField, 6);
    form.token = token ? token->c_str() : nullptr;
    form.honeypot = honeypot ? honeypot->c_str() : nullptr;
    const char* defence = nullptr;
    SpamVerdict verdict = checkPostedForm(site.spam, DefenceRecords{site.bbsDir, site.eventLog}, input.now, form, &defence);
    if (verdict == SpamVerdict::Pass) return std::nullopt;
    logPageEvent(site, input, "refused", input.message == -1 ? 0 : input.message, defence ? defence : "");
    return Refusal{Markup::raw(refusalMessage(verdict)), verdict == SpamVerdict::Wait ? 429 : 403};
}

void printStoredMessage(PageOut& out, const Frame& frame, const Post& post, const StoredPost& stored) {
    const char* r = stored.record;
    MessageShown message;
    message.subject = fieldText(r, field::Subject);
    message.textNum = fieldText(r, field::TextNum);
    message.readCount = fieldText(r, field::ReadCount);
    message.name = fieldText(r, field::Name);
    message.dateTime = std::string(post.dateText) + " " + post.timeText;
    message.email = fieldText(r, field::Email);
    // The host and home page as posted, not as the record's fields cut them.
    message.host = post.host;
    message.homepage = *post.texts[2];
    message.lineCount = fieldText(r, field::LineCount);
    message.body = &stored.body;
    message.smallNumbers = true;
    pageHead(out, frame, kVersion, "white");
    messageTables(out, frame, message);
    out.put("<br>\n");
    footer(out, frame, Footer::Notice);
    out.put("<br>\n");
    listingLink(out, frame, "BoardNum");
    out.put("</center>\n");
}

}  // namespace

int savePage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    if (input.bodyTooLarge) return errorPage(out, frame, tooLongMessage());
    const Post post = postOf(input, site);
    if (post.texts[0]->empty() || post.texts[3]->empty() || post.texts[4]->empty()) {
        return printMissingFieldsPage(out, frame);
    }
    // An edit needs the site password as the sixth posted value.
    if (input.message != -1) {
        ChangePermission permission = comparePostedPassword(input, site, 6);
        if (permission.decide() < 0) return denialPage(out, frame, kEditDenied, permission, site, input);
    }
    if (auto refusal = spamRefusal(input, site, board.settings)) return errorPage(out, frame, *refusal);
    BoardStore store(board.settings.dir.c_str(), BoardStore::AfterCommit::ByCaller);
    const StoredPost stored = storePost(post, board.settings, frame, site, store, input.now);
    if (!stored.bareLine.empty()) {
        if (frame.statusCodes) response.setStatus(500);
        out.put("Can't open %s.\n", stored.bareLine);
        return 1;
    }
    if (!stored.done) {
        if (stored.refusedBy == "damaged index") {
            logPageEvent(site, input, "damaged", 0, "index");
        } else if (!stored.refusedBy.empty()) {
            logPageEvent(site, input, "refused", 0, stored.refusedBy);
        }
        return errorPage(out, frame, stored.refusal);
    }
    response.deferAfterSending(store.takeCommittedChange());
    logPageEvent(site, input, input.message == -1 ? "post" : "edit", stored.number);
    printStoredMessage(out, frame, post, stored);
    return 0;
}
