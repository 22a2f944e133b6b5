// ListPage: one page of a board's message list.
#include "board_store.h"
#include "list_page.h"
#include "output.h"

int main() {
    CgiPage* page = new CgiPage;
    emitContentType();
    page->decodeRequest();
    // Held while the index is read, so the rows belong to the count read
    // first; without it the listing is read all the same.
    BoardStore store(page->boardDir);
    store.lockForReading();
    if (readTextCount(*page, store) < 0) {
        delete page;
        endRun(0);
    }
    printListHead(*page);
    setPageRange(*page);
    printList(*page, store);
    delete page;
    endRun(0);
}
