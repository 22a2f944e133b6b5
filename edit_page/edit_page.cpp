// EditPage: the compose form filled with a stored message, posting to
// SavePage with the message's number and the password it was opened with.
#include "edit_page.h"

#include <string>

#include "page/change_guard.h"
#include "page/html_escape.h"
#include "page/page_frame.h"
#include "page/spam_form_fields.h"
#include "store/board_store.h"
#include "store/index_format.h"

namespace {

// The form has shown this version since it was written.
constexpr char kFormVersion[] = "2.11";
constexpr char kEditDenied[] = "<font color=454545 size=-1>손님은 수정하기 권한이 없습니다.</font><br>";

void printEditForm(PageOut& out, const Frame& frame, const PageInput& input, const SiteConfig& site, const char* r,
                   const std::string& body, const std::string& password) {
    pageHead(out, frame, kFormVersion, "white");
    titleBlock(out, frame, TitleLayout::Form);
    out.put("<form method=post action=%scgi-bin/SavePage.exe?BoardNum=%s&TextNum=%s>\n", frame.baseDir, frame.board,
            input.message);
    out.put("<table>\n");
    out.put("<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18 value=\"%s\"></td></tr>\n",
            attributeValue(fieldText(r, field::Name).c_str()));
    out.put("<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40 value=\"%s\"></td></tr>\n",
            attributeValue(fieldText(r, field::Email).c_str()));
    out.put("<tr><td>Homepage</td><td><input type=text name=homepage size=60 value=\"%s\"\n",
            attributeValue(fieldText(r, field::Homepage).c_str()));
    out.put("maxlength=60></td><tr>\n");
    out.put("<tr><td>Subject</td><td><input type=text name=subject size=60 value=\"%s\" maxlength=60></td></tr>\n",
            attributeValue(fieldText(r, field::Subject).c_str()));
    out.put("<tr><td>Comment</td><td><textarea type=text name=body cols=60 rows=10>\n");
    out.markup(textAreaText(body));
    out.put("</textarea>\n");
    // SavePage checks the password of an edit: it travels back as the sixth value.
    out.put("<input type=hidden name=password value=\"%s\">\n", attributeValue(password.c_str()));
    printSpamFields(out, site, frame.board, input.now);
    formButtons(out);
    footer(out, frame, Footer::Form, kFormVersion);
}

}  // namespace

int editPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    ChangePermission permission = comparePostedPassword(input, site, 1);
    if (permission.decide() < 0) return denialPage(out, frame, kEditDenied, permission, site, input);

    if (!board.settings.fits(kIndexName)) return errorPage(out, frame, refusal::pathTooLong());
    const std::string indexPath = board.settings.dir + kIndexName;
    // The form may be read without the lock: it changes nothing.
    BoardStore store(board.settings.dir.c_str());
    store.lockForReading();
    char header[kHeaderSize];
    StoreResult head = store.ReadHeader(header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        if (frame.statusCodes) response.setStatus(head == StoreResult::NoStore ? 404 : 500);
        out.put("Can't open %s!!!\n", frame.shown(indexPath));
        return 1;
    }
    // Only a stored message is read; any other number names no record.
    char record[kRecordSize];
    if (head != StoreResult::Done || store.ReadRecord(input.message, record) != StoreResult::Done) {
        if (frame.statusCodes) response.setStatus(404);
        out.put("There's no message %s in %s.\n", input.message, kIndexName);
        return 1;
    }
    const std::string fileName = fieldText(record, field::FileName);
    if (!board.settings.fits(fileName.c_str())) return errorPage(out, frame, refusal::pathTooLong());
    std::string body;
    if (store.readBody(fileName, &body) != StoreResult::Done) {
        if (frame.statusCodes) response.setStatus(500);
        out.put("Can't open %s!!!\n", frame.shown(board.settings.dir + fileName));
        return 1;
    }
    store.unlock();

    const std::string& posted = input.postedValue(1);
    printEditForm(out, frame, input, site, record, body, posted.size() >= kPasswordFieldSize ? std::string() : posted);
    return 0;
}
