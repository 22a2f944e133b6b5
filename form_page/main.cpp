// FormPage: the empty compose form of one board.
#include "compose_page.h"
#include "output.h"

int main() {
    ComposePage* page = new ComposePage;
    emitContentType();
    page->decodeRequest();
    page->printComposeForm();
    delete page;
    endRun(0);
}
