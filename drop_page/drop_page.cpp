// DropPage: erases one message, with the site password, and says so.
#include "drop_page.h"

#include <string>

#include "page/change_guard.h"
#include "page/page_events.h"
#include "page/page_frame.h"
#include "store/board_store.h"
#include "store/index_format.h"

namespace {

constexpr char kEraseDenied[] = "<font color=454545 size=-1>손님은 글지우기 권한이 없습니다.</font><br>";

const Markup kRemoved = Markup::raw("<font color=228b22 size=2>Successfully removed.</font><br>\n"
                                    "<font color=454545 size=-1>성공적으로 지워졌습니다.</font><br>");

// The status of a bare line, when the site gives statuses.
void lineStatus(PageOut& out, const Frame& frame, int http) {
    if (frame.statusCodes) out.response().setStatus(http);
}

// Takes message `number` out of the locked store of `count` messages and
// prints what became of it. The page's status is 0 whatever it says.
void eraseMessage(PageOut& out, const PageBoard& board, BoardStore& store, int count, int number,
                  const SiteConfig& site, const PageInput& input) {
    const Frame& frame = board.frame;
    if (count <= 0) {
        lineStatus(out, frame, 404);
        out.put("There's no data %s.\n", kIndexName);
        return;
    }
    // Only a message that exists is erased; anything else would lower the
    // count without taking a record out.
    if (number < 1 || number > count) {
        lineStatus(out, frame, 404);
        out.put("There's no message %s in %s.\n", number, kIndexName);
        return;
    }
    char erased[kRecordSize];
    switch (store.RemoveRecord(number, erased)) {
        case StoreResult::Done:
            out.response().deferAfterSending(store.takeCommittedChange());
            logPageEvent(site, input, "erase", number);
            noticePage(out, frame, kRemoved, "BoardNum", 0);
            return;
        case StoreResult::Damaged:
            logPageEvent(site, input, "damaged", number, "index");
            errorPage(out, frame, refusal::damagedIndex(frame, board.settings.dir + kIndexName));
            return;
        case StoreResult::NoMessage:
            lineStatus(out, frame, 404);
            out.put("There's no message %s in %s.\n", number, kIndexName);
            return;
        default:
            // Nothing was changed: the new index or the redo record could
            // not be written.
            lineStatus(out, frame, 500);
            out.put("Can't open %s!!!\n", frame.shown(board.settings.dir + kScratchName));
            return;
    }
}

}  // namespace

int dropPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    ChangePermission permission = comparePostedPassword(input, site, 1);
    if (!board.settings.fits(kIndexName)) return errorPage(out, frame, refusal::pathTooLong());
    const std::string indexPath = board.settings.dir + kIndexName;
    // Held to the end of the request: no other request sees the board
    // between the header read and the committed erase.
    BoardStore store(board.settings.dir.c_str(), BoardStore::AfterCommit::ByCaller);
    StoreResult locked = store.lockForChange();
    // No board, or no directory for it: as a board without data.
    if (locked == StoreResult::NoBoard || locked == StoreResult::NoStore) locked = StoreResult::Done;
    char header[kHeaderSize];
    StoreResult head = locked == StoreResult::Done ? store.ReadHeader(header) : StoreResult::Failed;
    const bool headRead = head == StoreResult::Done || head == StoreResult::Damaged;
    if (locked == StoreResult::Done && !headRead) out.put("Can't open %s.\n", frame.shown(indexPath));
    if (permission.decide() < 0) return denialPage(out, frame, kEraseDenied, permission, site, input);
    if (locked == StoreResult::LockFailed) return errorPage(out, frame, refusal::boardLocked());
    if (locked != StoreResult::Done) return errorPage(out, frame, refusal::cantWrite(frame, indexPath));
    if (!headRead) {
        lineStatus(out, frame, 404);
        return 0;
    }
    eraseMessage(out, board, store, head == StoreResult::Done ? store.messageCount() : 0, input.message, site, input);
    return 0;
}
