#include "view_page.h"

#include <cstdio>
#include <string>

#include "output.h"
#include "store.h"

namespace {

const char kPathTooLong[] = "<font color=228b22 size=3>The board's file path is too long!!!</font><br>";

}  // namespace

void ViewPage::refuse(const char* message) {
    showErrorPage(message);
    endRun(1);
}

int ViewPage::decodeRequest() {
    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    int result = readConfig();
    // A cut path would name another file.
    if (setBoardPath(kIndexName) < 0) refuse(kPathTooLong);
    // Without a board directory there is no lock file; the open below then
    // fails by itself.
    boardLock.acquire(boardDir, LockMode::Exclusive);
    stream = std::fopen(path, "r");
    if (!stream) {
        emit("Can't open %s.", path);
        endRun(1);
    }
    // A header that cannot be read whole holds no count, so no record.
    messageCount = ReadHeader(stream, header) > 0 ? fieldNumber(header, field::TextCount) : 0;
    std::fclose(stream);
    stream = nullptr;
    return result;
}

void ViewPage::requireStoredMessage() {
    if (textNum >= 1 && textNum <= messageCount) return;
    char message[kTextSize];
    std::snprintf(message, sizeof message, "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>",
                  textNum);
    refuse(message);
}

int ViewPage::openForUpdate() {
    if (setBoardPath(kIndexName) < 0) refuse(kPathTooLong);
    stream = std::fopen(path, "r+");
    if (!stream) {
        emit("Can't open %s!!!%c", path, NL);
        return -1;
    }
    return 1;
}

void ViewPage::BumpReadCount() {
    // A record that cannot be read whole (a file shorter than its count) is
    // neither written back nor shown.
    if (ReadRecord(stream, textNum, record) < 0) {
        std::fclose(stream);
        stream = nullptr;
        char message[kTextSize];
        std::snprintf(message, sizeof message,
                      "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>", textNum);
        refuse(message);
    }
    int written = ::BumpReadCount(stream, textNum, record);
    if (CloseStore(stream) < 0) written = -1;
    stream = nullptr;
    boardLock.release();
    if (written < 0) {
        char message[2 * kTextSize];
        std::snprintf(message, sizeof message, "<font color=228b22 size=3>Can't write %s.</font><br>", path);
        refuse(message);
    }
}

void ViewPage::setBodyPath() {
    if (fieldText(record, field::FileName).empty()) putText(record, field::FileName, "nofile");
    if (setBoardPath(fieldText(record, field::FileName).c_str()) < 0) refuse(kPathTooLong);
}
