// ListPage: one page of a board's message list.
#include "board_lock.h"
#include "list_page.h"
#include "output.h"

int main() {
    CgiPage* page = new CgiPage;
    emitContentType();
    page->decodeRequest();
    // Held across both openings of the index, so the rows belong to the
    // count read first. Without a board directory there is nothing to guard.
    BoardLock lock;
    lock.acquire(page->boardDir, LockMode::Shared);
    if (readTextCount(*page) < 0) {
        delete page;
        endRun(0);
    }
    printListHead(*page);
    setPageRange(*page);
    printList(*page);
    delete page;
    endRun(0);
}
