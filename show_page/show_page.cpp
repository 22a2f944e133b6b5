// ShowPage: one message with its header table, the way to the messages
// around it, and the forms that edit and erase it.
#include "show_page.h"

#include <string>

#include "page/page_frame.h"
#include "store/board_store.h"
#include "store/index_format.h"

namespace {

void printNavigation(PageOut& out, const Frame& frame, int shown, int count) {
    out.put("<br><br>\n");
    // count > shown rather than count >= shown + 1: the same test without overflow.
    if (count > shown) out.put("<a href=%scgi-bin/ShowPage.exe?BoardNum=%s&TextNum=%s>", frame.baseDir, frame.board, shown + 1);
    out.put("<img src=%sImage/prev.gif border=0 align=middle>\n", frame.baseDir);
    if (count > shown) out.put("</a>\n");
    out.put("<a href=%scgi-bin/ListPage.exe?BoardNum=%s&TextNum=0>", frame.baseDir, frame.board);
    out.put("<img src=%sImage/up.gif border=0 align=center></a>\n", frame.baseDir);
    if (shown != 1) out.put("<a href=%scgi-bin/ShowPage.exe?BoardNum=%s&TextNum=%s>", frame.baseDir, frame.board, shown - 1);
    out.put("<img src=%sImage/next.gif border=0 align=middle>\n", frame.baseDir);
    if (shown != 1) out.put("</a>\n");
}

void printChangeForms(PageOut& out, const Frame& frame, int shown) {
    out.put("<br><br>\n");
    out.put("<table>\n");
    out.put("<font size=-1>\n");
    out.put("<td><form OnSubmit=\"return confirm('확실히 지우시겠습니까?')\" method=post action=%scgi-bin/DropPage.exe?BoardNum=%s&TextNum=%s>\n",
            frame.baseDir, frame.board, shown);
    out.put("<font size=-1>Password:</font> <input type=password size=10 maxlength=10 name=password>\n");
    out.put("<input type=submit value=\"글지우기\"></form></td>\n");
    out.put("<td><form OnSubmit=\"return confirm('확실히 수정하시겠습니까?')\" method=post action=%scgi-bin/EditPage.exe?BoardNum=%s&TextNum=%s>\n",
            frame.baseDir, frame.board, shown);
    out.put("<input type=submit value=\"수정하기\">\n");
    out.put("<input type=password size=10 maxlength=10 name=password> <font size=-1>:Password</font></form>\n");
    out.put("</font></td>\n");
    out.put("</table>\n");
}

}  // namespace

int showPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    if (!board.settings.fits(kIndexName)) return errorPage(out, frame, refusal::pathTooLong());
    const std::string indexPath = board.settings.dir + kIndexName;
    // Locked from before the header is read until the body is read, so a
    // view never sees a half-made change and no count is lost. Without the
    // exclusive lock the message is still shown, but not counted: a count
    // written without it could undo another's.
    BoardStore store(board.settings.dir.c_str(), BoardStore::AfterCommit::ByCaller);
    const bool counting = store.lockForChange() == StoreResult::Done;
    if (!counting) store.lockForReading();
    char header[kHeaderSize];
    StoreResult head = store.ReadHeader(header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        // An empty board has no index yet.
        if (frame.statusCodes) response.setStatus(head == StoreResult::NoStore ? 404 : 500);
        out.put("Can't open %s.", frame.shown(indexPath));
        return 1;
    }
    // A header that cannot be read whole holds no count, so no record.
    const int count = head == StoreResult::Done ? store.messageCount() : 0;
    const int shown = input.message;
    if (shown < 1 || shown > count) return errorPage(out, frame, refusal::noSuchMessage(shown));

    char record[kRecordSize];
    StoreResult read = store.ReadRecord(shown, record);
    // A record that cannot be read whole (a file shorter than its count) is
    // neither written back nor shown.
    if (read == StoreResult::NoMessage) return errorPage(out, frame, refusal::noSuchMessage(shown));
    std::string bodyPath;
    std::string body;
    bool bodyFound = false;
    if (read == StoreResult::Done) {
        std::string fileName = fieldText(record, field::FileName);
        if (fileName.empty()) fileName = "nofile";
        if (!board.settings.fits(fileName.c_str())) return errorPage(out, frame, refusal::pathTooLong());
        bodyPath = board.settings.dir + fileName;
        StoreResult bodyRead = store.readBody(fileName, &body);
        if (bodyRead == StoreResult::Failed) return errorPage(out, frame, refusal::cantOpen(frame, bodyPath));
        bodyFound = bodyRead == StoreResult::Done;
        // The body is read before the count is raised: a reading that
        // fails is not counted. A body file that is not there still is.
        if (counting) read = store.BumpReadCount(shown, record);
    }
    if (read != StoreResult::Done) return errorPage(out, frame, refusal::cantWrite(frame, store.indexPath()));
    response.deferAfterSending(store.takeCommittedChange());
    store.unlock();

    if (!bodyFound) {
        if (frame.statusCodes) response.setStatus(500);
        out.put("<html>\n");
        out.put("<body>\n");
        out.put("%s is not found!!!\n", frame.shown(bodyPath));
        out.put("</body>\n");
        out.put("</html>\n");
        return 1;
    }
    MessageShown message;
    message.subject = fieldText(record, field::Subject);
    message.textNum = fieldText(record, field::TextNum);
    message.readCount = fieldText(record, field::ReadCount);
    message.name = fieldText(record, field::Name);
    message.dateTime = fieldText(record, field::Date) + " " + fieldText(record, field::Time);
    message.email = fieldText(record, field::Email);
    message.host = fieldText(record, field::RemoteHost);
    message.homepage = fieldText(record, field::Homepage);
    message.lineCount = fieldText(record, field::LineCount);
    message.body = &body;
    pageHead(out, frame, kVersion, "white");
    messageTables(out, frame, message);
    printNavigation(out, frame, shown, count);
    printChangeForms(out, frame, shown);
    footer(out, frame, Footer::Message);
    return 0;
}
