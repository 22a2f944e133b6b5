#include "view_page.h"

#include <cstdio>
#include <string>

#include "page/response.h"
#include "store/index_format.h"

namespace {

const char kPathTooLong[] = "<font color=228b22 size=3>The board's file path is too long!!!</font><br>";

}  // namespace

int showPage(const Request& request) {
    ViewPage page(request);
    emitContentType();
    if (page.decodeRequest() < 0 || page.requireStoredMessage() < 0 || page.BumpReadCount() < 0 ||
        page.printMessagePage() < 0) {
        return page.endStatus();
    }
    return 0;
}

int ViewPage::refuse(const char* message) {
    showErrorPage(message);
    return endPage(1);
}

int ViewPage::decodeRequest() {
    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    int result = readConfig();
    if (result < 0) return result;
    // A cut path would name another file.
    if (setBoardPath(kIndexName) < 0) return refuse(kPathTooLong);
    store.reset(new BoardStore(boardDir));
    // Without the lock the message is still shown, but not counted: a count
    // written without it could undo another's.
    counting = store->lockForChange() == StoreResult::Done;
    if (!counting) store->lockForReading();
    StoreResult head = store->ReadHeader(header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        emit("Can't open %s.", path);
        return endPage(1);
    }
    // A header that cannot be read whole holds no count, so no record.
    messageCount = head == StoreResult::Done ? store->messageCount() : 0;
    return result;
}

int ViewPage::requireStoredMessage() {
    if (textNum >= 1 && textNum <= messageCount) return 1;
    char message[kTextSize];
    std::snprintf(message, sizeof message, "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>",
                  textNum);
    return refuse(message);
}

int ViewPage::BumpReadCount() {
    StoreResult read = store->ReadRecord(textNum, record);
    // A record that cannot be read whole (a file shorter than its count) is
    // neither written back nor shown.
    if (read == StoreResult::NoMessage) {
        char message[kTextSize];
        std::snprintf(message, sizeof message,
                      "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>", textNum);
        return refuse(message);
    }
    if (read == StoreResult::Done && readBody() < 0) return -1;
    // The body is read before the count is raised: a reading that fails
    // is not counted. A body file that is not there still is.
    if (read == StoreResult::Done && counting) read = store->BumpReadCount(textNum, record);
    if (read != StoreResult::Done) {
        char message[3 * kTextSize];
        std::snprintf(message, sizeof message, "<font color=228b22 size=3>Can't write %s.</font><br>",
                      store->indexPath());
        return refuse(message);
    }
    store->unlock();
    return 1;
}

int ViewPage::readBody() {
    std::string fileName = fieldText(record, field::FileName);
    if (fileName.empty()) fileName = "nofile";
    if (setBoardPath(fileName.c_str()) < 0) return refuse(kPathTooLong);
    StoreResult read = store->readBody(fileName, &body);
    if (read == StoreResult::Failed) {
        char message[2 * kTextSize];
        std::snprintf(message, sizeof message, "<font color=228b22 size=3>Can't open %s.</font><br>", path);
        return refuse(message);
    }
    bodyFound = read == StoreResult::Done;
    return 1;
}
