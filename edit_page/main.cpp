// EditPage: the compose form filled with a stored message, for the password holder.
#include <cstdio>
#include <string>

#include "board_lock.h"
#include "edit_page.h"
#include "output.h"
#include "permission.h"
#include "store.h"

namespace {

[[noreturn]] void refusePath(GuardedPage& page) {
    page.showErrorPage("<font color=228b22 size=3>The board's file path is too long!!!</font><br>");
    endRun(1);
}

}  // namespace

int main() {
    GuardedPage* page = new GuardedPage;
    emitContentType();
    page->decodeRequest();
    if (page->checkPassword() < 0) page->showDenial(kEditDenied);

    if (page->setBoardPath(kIndexName) < 0) refusePath(*page);
    BoardLock lock;
    lock.acquire(page->boardDir, LockMode::Shared);
    page->stream = std::fopen(page->path, "r");
    if (!page->stream) {
        emit("Can't open %s!!!%c", page->path, NL);
        endRun(1);
    }
    int count = ReadHeader(page->stream, page->header) > 0 ? fieldNumber(page->header, field::TextCount) : 0;
    // Only a stored message is read; any other number names no record.
    if (page->textNum < 1 || page->textNum > count || ReadRecord(page->stream, page->textNum, page->record) < 0) {
        emit("There's no message %d in %s.%c", page->textNum, kIndexName, NL);
        endRun(1);
    }
    std::fclose(page->stream);
    page->stream = nullptr;

    if (page->setBoardPath(fieldText(page->record, field::FileName).c_str()) < 0) refusePath(*page);
    page->stream = std::fopen(page->path, "r");
    if (!page->stream) {
        emit("Can't open %s!!!%c", page->path, NL);
        endRun(1);
    }
    std::string body = readWholeFile(page->stream);
    std::fclose(page->stream);
    page->stream = nullptr;
    lock.release();

    printEditForm(*page, body);
    delete page;
    endRun(0);
}
