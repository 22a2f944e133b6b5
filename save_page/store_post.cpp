// Storing a posted message: counters, record and body file, through the
// board's store, which makes the whole change at once or not at all.
#include <cstdio>
#include <cstring>
#include <string>

#include "store/board_store.h"
#include "spam/duplicate_check.h"
#include "page/response.h"
#include "spam/spam_check.h"
#include "store/index_format.h"
#include "submit_page.h"

namespace {

const char kCantOpen[] = "<font color=228b22 size=3>Can't open %s.</font><br>";
const char kCantWrite[] = "<font color=228b22 size=3>Can't write %s.</font><br>";
const char* const kDamaged = kDamagedIndex;
const char kPathTooLong[] = "<font color=228b22 size=3>The board's file path is too long!!!</font><br>";
const char kNoBoard[] = "<font color=228b22 size=3>There is no board number like that!!!</font><br>";

constexpr int kLowestBoard = -999;  // BoardNum holds four characters
constexpr int kHighestBoard = 9999;
constexpr int kMaxLineCount = 9999;
constexpr int kMaxFileSerial = 999999999;

int countLines(const char* body) {
    int lines = 1;
    for (const char* p = body; *p; ++p) {
        if (*p == '\r' && lines < kMaxLineCount) ++lines;
    }
    return lines;
}

// The body as its file holds it: every CR written as "<br>".
std::string bodyFileBytes(const char* posted) {
    std::string bytes;
    for (const char* p = posted; *p; ++p) {
        if (*p == '\r') {
            bytes += "<br>";
        } else {
            bytes += *p;
        }
    }
    return bytes;
}

}  // namespace

void SubmitPage::fillRecord(bool newMessage) {
    if (newMessage) {
        putNumber(record, field::TextNum, messageCount);
        putFormatted(record, field::ReadCount, "%4s", "0");
    }
    putNumber(record, field::LineCount, countLines(posted(5)));
    if (newMessage) putFormatted(record, field::FileName, "%s%d.html", kBodyPrefix, fileSerial);
    putText(record, field::Name, posted(1));
    putText(record, field::Email, posted(2));
    putText(record, field::Homepage, posted(3));
    putText(record, field::Date, dateText);
    putText(record, field::Time, timeText);
    putText(record, field::RemoteHost, remoteHost);
    putText(record, field::Subject, posted(4));
}

int SubmitPage::storeMessage() {
    if (boardNum < kLowestBoard || boardNum > kHighestBoard) return refuse(kNoBoard);
    copyField(path, sizeof path, boardDir);
    if (setBoardPath(kIndexName) < 0) return refuse(kPathTooLong);
    BoardStore store(boardDir);
    switch (store.lockForChange()) {
        case StoreResult::Done: break;
        case StoreResult::NoBoard: return refuse(kNoBoard);
        case StoreResult::NoStore: return refuse(kCantOpen, path);
        case StoreResult::LockFailed: return refuse(kCantLock);
        default: return refuse(kCantWrite, path);
    }
    StoreResult head = store.ReadHeader(header);
    bool freshStore = head == StoreResult::NoStore && textNum == -1;
    if (head == StoreResult::Failed || (head == StoreResult::NoStore && !freshStore)) return refuse(kCantOpen, path);
    if (head == StoreResult::Damaged) return refuse(kDamaged, path);
    int count = 0;
    int serial = 0;
    if (!freshStore) {
        count = fieldNumber(header, field::TextCount);
        serial = fieldNumber(header, field::FileSerial);
        // Appending to a store whose length disagrees with its count would
        // put the record where no reader finds it.
        if (!store.hasStoreLength() || serial < 0) return refuse(kDamaged, path);
    } else {
        std::memset(header, 0, kHeaderSize);
    }
    storedBody = bodyFileBytes(posted(5));
    if (textNum == -1) return storeNewMessage(store, freshStore, count, serial);
    return replaceMessage(store);
}

int SubmitPage::storeNewMessage(BoardStore& store, bool freshStore, int count, int serial) {
    if (count >= kMaxMessages || serial >= kMaxFileSerial) {
        return refuse("<font color=228b22 size=3>This board is full: no more messages can be posted!!!</font><br>");
    }
    fileSerial = serial + 1;
    messageCount = count + 1;
    fillRecord(true);
    putNumber(header, field::FileSerial, fileSerial);
    putNumber(header, field::TextCount, messageCount);
    putNumber(header, field::BoardNum, boardNum);
    putText(header, field::HeaderSpare, "");
    // Checked and remembered under the board's lock: two copies posted at
    // once cannot both pass, and a body is remembered only once stored.
    std::string fingerprint;
    if (spam.duplicateWindow > 0) {
        fingerprint = bodyFingerprint(posted(5));
        if (isRecentBody(bbsDir, boardNum, fingerprint, request().now, spam.duplicateWindow)) {
            return refuse("%s", refusalMessage(SpamVerdict::Duplicate));
        }
    }
    if (requireStored(store.AppendRecord(header, record, storedBody, freshStore)) < 0) return -1;
    if (!fingerprint.empty()) rememberBody(bbsDir, boardNum, fingerprint, request().now, spam.duplicateWindow);
    return 1;
}

int SubmitPage::requireStored(StoreResult result) {
    if (result == StoreResult::Done) return 1;
    if (result == StoreResult::Damaged) return refuse(kDamaged, path);
    if (result != StoreResult::BodyFailed) return refuse(kCantWrite, path);
    std::string fileName = fieldText(record, field::FileName);
    emit("Can't open %s%s.%c", boardDir, fileName.c_str(), NL);
    return endPage(1);
}

int SubmitPage::replaceMessage(BoardStore& store) {
    StoreResult read = store.ReadRecord(textNum, record);
    if (read == StoreResult::Failed) return refuse(kCantOpen, path);
    if (read != StoreResult::Done) {
        char message[kTextSize];
        std::snprintf(message, sizeof message,
                      "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>", textNum);
        return refuse(message);
    }
    fillRecord(false);
    return requireStored(store.RewriteRecord(textNum, record, storedBody));
}
