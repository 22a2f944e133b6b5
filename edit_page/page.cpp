// EditPage: the compose form filled with a stored message, for the password holder.
#include <cstdio>
#include <string>

#include "store/board_store.h"
#include "edit_page.h"
#include "page/response.h"
#include "permission/password_check.h"
#include "store/index_format.h"

namespace {

// The error page for a path that would not fit; returns its status.
int refusePath(GuardedPage& page) {
    page.showErrorPage("<font color=228b22 size=3>The board's file path is too long!!!</font><br>");
    return 1;
}

}  // namespace

int editPage(const Request& request) {
    GuardedPage page(request);
    emitContentType();
    if (page.decodeRequest() < 0) return page.endStatus();
    if (page.checkPassword() < 0) {
        page.showDenial(kEditDenied);
        return page.endStatus();
    }

    if (page.setBoardPath(kIndexName) < 0) return refusePath(page);
    // The form may be read without the lock: it changes nothing.
    BoardStore store(page.boardDir);
    store.lockForReading();
    StoreResult head = store.ReadHeader(page.header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        emit("Can't open %s!!!%c", page.path, NL);
        return 1;
    }
    // Only a stored message is read; any other number names no record.
    if (head != StoreResult::Done || store.ReadRecord(page.textNum, page.record) != StoreResult::Done) {
        emit("There's no message %d in %s.%c", page.textNum, kIndexName, NL);
        return 1;
    }

    const std::string fileName = fieldText(page.record, field::FileName);
    if (page.setBoardPath(fileName.c_str()) < 0) return refusePath(page);
    std::string body;
    if (store.readBody(fileName, &body) != StoreResult::Done) {
        emit("Can't open %s!!!%c", page.path, NL);
        return 1;
    }
    store.unlock();

    printEditForm(page, body);
    return 0;
}
