#include <cstdio>
#include <string>

#include "drop_page.h"
#include "output.h"
#include "store.h"
#include "store_erase.h"

namespace {

// Removes the body file named `fileName`; true when it is gone.
bool removeBody(const CgiPage& page, const std::string& fileName, char* bodyPath, std::size_t size) {
    int needed = std::snprintf(bodyPath, size, "%s%s", page.boardDir, fileName.c_str());
    if (needed < 0 || static_cast<std::size_t>(needed) >= size) return false;
    // A record without a body file name has nothing to remove.
    return fileName.empty() || std::remove(bodyPath) == 0;
}

int removeStore(GuardedPage& page) {
    ReadRecord(page.stream, 1, page.record);
    std::fclose(page.stream);
    page.stream = nullptr;
    char bodyPath[kTextSize];
    if (!removeBody(page, fieldText(page.record, field::FileName), bodyPath, sizeof bodyPath)) {
        emit("1. Failed to remove %s.%c", bodyPath, NL);
    }
    if (std::remove(page.path) != 0) emit("2. Failed to remove %s.%c", page.path, NL);
    printRemovedPage(page);
    return 1;
}

}  // namespace

int eraseMessage(GuardedPage& page) {
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
    if (HasStoreLength(page.stream, count) < 0) {
        emit("The index file %s is damaged.%c", page.path, NL);
        return -1;
    }
    if (count == 1 && n == 1) return removeStore(page);

    char scratchPath[kTextSize];
    int needed = std::snprintf(scratchPath, sizeof scratchPath, "%s%s", page.boardDir, kScratchName);
    if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof scratchPath) {
        emit("Can't open %s%s!!!%c", page.boardDir, kScratchName, NL);
        return -1;
    }
    EraseResult result = RemoveRecord(page.stream, page.header, count, n, page.path, scratchPath, page.record);
    std::fclose(page.stream);
    page.stream = nullptr;
    if (result == EraseResult::ScratchFailed) {
        emit("Can't open %s!!!%c", scratchPath, NL);
        return -1;
    }
    if (result == EraseResult::RenameFailed) {
        emit("<br>5. Failed to rename %s.%c", scratchPath, NL);
        return -1;
    }
    char bodyPath[kTextSize];
    if (!removeBody(page, fieldText(page.record, field::FileName), bodyPath, sizeof bodyPath)) {
        char message[2 * kTextSize];
        std::snprintf(message, sizeof message, "<font color=454545 size=3>Filed to remove %s.</font><br>%c", bodyPath,
                      NL);
        page.showErrorPage(message);
        return 1;
    }
    printRemovedPage(page);
    return 1;
}
