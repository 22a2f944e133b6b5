// ListPage: one page of a board's message list.
#include "store/board_store.h"
#include "list_page.h"
#include "page/response.h"

int listPage(const Request& request) {
    CgiPage page(request);
    emitContentType();
    if (page.decodeRequest() < 0) return page.endStatus();
    // Held while the index is read, so the rows belong to the count read
    // first; without it the listing is read all the same.
    BoardStore store(page.boardDir);
    store.lockForReading();
    if (readTextCount(page, store) < 0) return page.endStatus();
    printListHead(page);
    setPageRange(page);
    printList(page, store);
    return 0;
}
