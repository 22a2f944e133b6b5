// DropPage: erases one message, with the site password.
#include <cstdio>

#include "board_lock.h"
#include "drop_page.h"
#include "output.h"
#include "permission.h"
#include "store.h"

int main() {
    GuardedPage* page = new GuardedPage;
    emitContentType();
    page->decodeRequest();
    if (page->setBoardPath(kIndexName) < 0) {
        page->showErrorPage("<font color=228b22 size=3>The board's file path is too long!!!</font><br>");
        endRun(1);
    }
    // Held to the end of the run: no other request sees the board between
    // the header read and the renamed index.
    BoardLock lock;
    lock.acquire(page->boardDir, LockMode::Exclusive);
    page->stream = std::fopen(page->path, "r+");
    if (!page->stream) emit("Can't open %s.%c", page->path, NL);
    if (page->checkPassword() < 0) page->showDenial(kEraseDenied);
    if (!page->stream) endRun(0);
    page->messageCount = ReadHeader(page->stream, page->header) > 0 ? fieldNumber(page->header, field::TextCount) : 0;
    eraseMessage(*page);
    delete page;
    endRun(0);
}
