// SavePage: stores a posted message, new or edited, and shows it.
#include "output.h"
#include "submit_page.h"

int main() {
    SubmitPage* page = new SubmitPage;
    emitContentType();
    page->decodeRequest();
    if (page->hasRequiredFields() < 0) page->showMissingFieldsPage();
    page->requireEditPermission();
    page->requireSpamChecks();
    page->storeMessage();
    page->showStoredMessage();
    page->showListLink();
    delete page;
    endRun(0);
}
