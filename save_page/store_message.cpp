// Storing a posted message: counters, record and body file, in an order
// that never leaves the index pointing at a message that was not written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "output.h"
#include "store.h"
#include "submit_page.h"

namespace {

const char kCantOpen[] = "<font color=228b22 size=3>Can't open %s.</font><br>";
const char kCantWrite[] = "<font color=228b22 size=3>Can't write %s.</font><br>";
const char kDamaged[] = "<font color=228b22 size=3>The index file %s is damaged!!!</font><br>";
const char kPathTooLong[] = "<font color=228b22 size=3>The board's file path is too long!!!</font><br>";

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

bool fits(char* target, std::size_t size, const char* format, const char* a, const char* b) {
    int needed = std::snprintf(target, size, format, a, b);
    return needed >= 0 && static_cast<std::size_t>(needed) < size;
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

int SubmitPage::writeBodyFile(const char* target) {
    std::FILE* body = std::fopen(target, "w");
    if (!body) return -1;
    for (const char* p = posted(5); *p; ++p) {
        if (*p == '\r') {
            std::fputs("<br>", body);
        } else {
            std::putc(*p, body);
        }
    }
    bool written = !std::ferror(body);
    return std::fclose(body) == 0 && written ? 1 : -1;
}

void SubmitPage::storeMessage() {
    if (boardNum < kLowestBoard || boardNum > kHighestBoard) {
        refuse("<font color=228b22 size=3>There is no board number like that!!!</font><br>");
    }
    copyField(path, sizeof path, boardDir);
    if (setBoardPath(kIndexName) < 0) refuse(kPathTooLong);
    if (boardLock.acquire(boardDir, LockMode::Exclusive) < 0) refuse(kCantOpen, path);

    stream = std::fopen(path, "r+");
    bool freshStore = !stream && errno == ENOENT && textNum == -1;
    if (!stream && !freshStore) refuse(kCantOpen, path);
    int count = 0;
    int serial = 0;
    if (stream) {
        if (ReadHeader(stream, header) < 0) refuse(kDamaged, path);
        count = fieldNumber(header, field::TextCount);
        serial = fieldNumber(header, field::FileSerial);
        // Appending to a store whose length disagrees with its count would
        // put the record where no reader finds it.
        if (HasStoreLength(stream, count) < 0 || serial < 0) refuse(kDamaged, path);
    } else {
        putNumber(header, field::FileSerial, 0);
        putNumber(header, field::TextCount, 0);
    }
    if (textNum == -1) {
        storeNewMessage(freshStore, count, serial);
    } else {
        replaceMessage(count);
    }
}

void SubmitPage::storeNewMessage(bool freshStore, int count, int serial) {
    if (count >= kMaxMessages || serial >= kMaxFileSerial) {
        refuse("<font color=228b22 size=3>This board is full: no more messages can be posted!!!</font><br>");
    }
    fileSerial = serial + 1;
    messageCount = count + 1;
    char bodyName[64];
    std::snprintf(bodyName, sizeof bodyName, "%s%d.html", kBodyPrefix, fileSerial);
    if (!fits(bodyPath, sizeof bodyPath, "%s%s", boardDir, bodyName)) refuse(kPathTooLong);
    fillRecord(true);

    // The body first: until the header and record are written nothing
    // refers to it, so a failure here leaves the index as it was.
    if (writeBodyFile(bodyPath) < 0) {
        std::remove(bodyPath);
        emit("Can't open %s.%c", bodyPath, NL);
        endRun(1);
    }
    if (freshStore) {
        stream = std::fopen(path, "w+");
        if (!stream) {
            std::remove(bodyPath);
            refuse(kCantOpen, path);
        }
    }
    char oldHeader[kHeaderSize];
    std::memcpy(oldHeader, header, sizeof oldHeader);
    putNumber(header, field::FileSerial, fileSerial);
    putNumber(header, field::TextCount, messageCount);
    putNumber(header, field::BoardNum, boardNum);
    putText(header, field::HeaderSpare, "");
    if (WriteHeader(stream, header) < 0 || AppendRecord(stream, messageCount, record) < 0) {
        restoreIndex(freshStore, oldHeader, count);
    }
    int closed = CloseStore(stream);
    stream = nullptr;
    if (closed < 0) {
        stream = std::fopen(path, "r+");
        restoreIndex(freshStore, oldHeader, count);
    }
}

void SubmitPage::restoreIndex(bool freshStore, const char* oldHeader, int count) {
    if (freshStore) {
        if (stream) std::fclose(stream);
        stream = nullptr;
        std::remove(path);
    } else if (stream) {
        std::fflush(stream);
        if (ftruncate(fileno(stream), kHeaderSize + static_cast<long>(count) * kRecordSize) == 0) {
            WriteHeader(stream, oldHeader);
        }
    }
    std::remove(bodyPath);
    refuse(kCantWrite, path);
}

void SubmitPage::replaceMessage(int count) {
    if (textNum < 1 || textNum > count || ReadRecord(stream, textNum, record) < 0) {
        char message[kTextSize];
        std::snprintf(message, sizeof message,
                      "<font color=228b22 size=3>There is no message %d on this board!!!</font><br>", textNum);
        refuse(message);
    }
    std::string fileName = fieldText(record, field::FileName);
    if (fileName.empty()) refuse(kDamaged, path);
    if (!fits(bodyPath, sizeof bodyPath, "%s%s", boardDir, fileName.c_str())) refuse(kPathTooLong);
    char scratch[kTextSize];
    if (!fits(scratch, sizeof scratch, "%s%s", bodyPath, ".new")) refuse(kPathTooLong);

    // The new body replaces the old one in a single rename, so a failed
    // edit leaves the old message whole.
    if (writeBodyFile(scratch) < 0) {
        std::remove(scratch);
        emit("Can't open %s.%c", scratch, NL);
        endRun(1);
    }
    if (std::rename(scratch, bodyPath) != 0) {
        std::remove(scratch);
        refuse(kCantWrite, bodyPath);
    }
    fillRecord(false);
    int written = RewriteRecord(stream, textNum, record);
    if (CloseStore(stream) < 0) written = -1;
    stream = nullptr;
    if (written < 0) refuse(kCantWrite, path);
}
