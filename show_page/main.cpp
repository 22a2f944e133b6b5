// ShowPage: one message of a board, counted as one reading.
#include "output.h"
#include "view_page.h"

int main() {
    ViewPage* page = new ViewPage;
    emitContentType();
    page->decodeRequest();
    page->requireStoredMessage();
    page->BumpReadCount();
    page->printMessagePage();
    delete page;
    endRun(0);
}
