// DropPage: erases one message, with the site password.
#include <cstdio>

#include "store/board_store.h"
#include "drop_page.h"
#include "page/response.h"
#include "permission/password_check.h"
#include "store/index_format.h"

int dropPage(const Request& request) {
    GuardedPage page(request);
    emitContentType();
    if (page.decodeRequest() < 0) return page.endStatus();
    if (page.setBoardPath(kIndexName) < 0) {
        page.showErrorPage("<font color=228b22 size=3>The board's file path is too long!!!</font><br>");
        return 1;
    }
    // Held to the end of the request: no other request sees the board
    // between the header read and the committed erase.
    BoardStore store(page.boardDir);
    StoreResult locked = store.lockForChange();
    // No board, or no directory for it: as a board without data.
    if (locked == StoreResult::NoBoard || locked == StoreResult::NoStore) locked = StoreResult::Done;
    StoreResult head = locked == StoreResult::Done ? store.ReadHeader(page.header) : StoreResult::Failed;
    if (locked == StoreResult::Done && head != StoreResult::Done && head != StoreResult::Damaged) {
        emit("Can't open %s.%c", page.path, NL);
    }
    if (page.checkPassword() < 0) {
        page.showDenial(kEraseDenied);
        return page.endStatus();
    }
    if (locked == StoreResult::LockFailed) {
        page.showErrorPage(kCantLock);
        return 1;
    }
    if (locked != StoreResult::Done) {
        char message[2 * kTextSize];
        std::snprintf(message, sizeof message, "<font color=228b22 size=3>Can't write %s.</font><br>", page.path);
        page.showErrorPage(message);
        return 1;
    }
    if (head != StoreResult::Done && head != StoreResult::Damaged) return 0;
    page.messageCount = head == StoreResult::Done ? store.messageCount() : 0;
    eraseMessage(page, store);
    return 0;
}
