// ShowPage: one message of a board, counted as one reading.
#include "output.h"
#include "view_page.h"

int main() {
    ViewPage* page = new ViewPage;
    emitContentType();
    page->decodeRequest();
    page->requireStoredMessage();
    if (page->openForUpdate() < 0) {
        delete page;
        endRun(0);
    }
    page->BumpReadCount();
    page->setBodyPath();
    page->printMessagePage();
    delete page;
    endRun(0);
}
