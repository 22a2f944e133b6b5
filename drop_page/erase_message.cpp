#include <cstdio>

#include "store/board_store.h"
#include "drop_page.h"
#include "page/response.h"
#include "store/index_format.h"

int eraseMessage(GuardedPage& page, BoardStore& store) {
    int count = page.messageCount;
    int n = page.textNum;
    if (count <= 0) {
        emit("There's no data %s.%c", kIndexName, NL);
        return -1;
    }
    // Only a message that exists is erased; anything else would lower the
    // count without taking a record out.
    if (n < 1 || n > count) {
        emit("There's no message %d in %s.%c", n, kIndexName, NL);
        return -1;
    }
    switch (store.RemoveRecord(n, page.record)) {
        case StoreResult::Done:
            printRemovedPage(page);
            return 1;
        case StoreResult::Damaged: {
            char message[2 * kTextSize];
            std::snprintf(message, sizeof message, kDamagedIndex, page.path);
            page.showErrorPage(message);
            return -1;
        }
        case StoreResult::NoMessage:
            emit("There's no message %d in %s.%c", n, kIndexName, NL);
            return -1;
        default: {
            // Nothing was changed: the new index or the redo record could
            // not be written.
            char scratchPath[2 * kTextSize];
            std::snprintf(scratchPath, sizeof scratchPath, "%s%s", page.boardDir, kScratchName);
            emit("Can't open %s!!!%c", scratchPath, NL);
            return -1;
        }
    }
}
