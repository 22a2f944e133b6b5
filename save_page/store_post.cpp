// Storing a posted message: counters, record and body file, through the
// board's store, which makes the whole change at once or not at all.
#include <cstring>
#include <string>

#include "page/page_frame.h"
#include "save_page.h"
#include "spam/duplicate_check.h"
#include "spam/spam_check.h"
#include "store/board_store.h"
#include "store/index_format.h"

namespace {

constexpr int kLowestBoard = -999;  // BoardNum holds four characters
constexpr int kHighestBoard = 9999;
constexpr int kMaxLineCount = 9999;
constexpr int kMaxFileSerial = 999999999;

const Refusal kNoBoard = {Markup::raw("<font color=228b22 size=3>There is no board number like that!!!</font><br>"), 404};
const Refusal kBoardFull = {
    Markup::raw("<font color=228b22 size=3>This board is full: no more messages can be posted!!!</font><br>"), 403};

int countLines(const std::string& body) {
    int lines = 1;
    for (char c : body) {
        if (c == '\r' && lines < kMaxLineCount) ++lines;
    }
    return lines;
}

// The body as its file holds it: every CR written as "<br>".
std::string bodyFileBytes(const std::string& posted) {
    std::string bytes;
    for (char c : posted) {
        if (c == '\r') {
            bytes += "<br>";
        } else {
            bytes += c;
        }
    }
    return bytes;
}

void fillRecord(char* record, const Post& post, bool newMessage, int number, int serial) {
    if (newMessage) {
        putNumber(record, field::TextNum, number);
        putFormatted(record, field::ReadCount, "%4s", "0");
    }
    putNumber(record, field::LineCount, countLines(*post.texts[4]));
    if (newMessage) putFormatted(record, field::FileName, "%s%d.html", kBodyPrefix, serial);
    putText(record, field::Name, post.texts[0]->c_str());
    putText(record, field::Email, post.texts[1]->c_str());
    putText(record, field::Homepage, post.texts[2]->c_str());
    putText(record, field::Date, post.dateText);
    putText(record, field::Time, post.timeText);
    putText(record, field::RemoteHost, post.host.c_str());
    putText(record, field::Subject, post.texts[3]->c_str());
}

StoredPost refused(Refusal refusal, const char* by = "") {
    StoredPost stored;
    stored.refusal = std::move(refusal);
    stored.refusedBy = by;
    return stored;
}

// The page that tells why a change was not stored, or none.
StoredPost checkStored(StoredPost stored, StoreResult result, const BoardSettings& board, const Frame& frame) {
    const std::string indexPath = board.dir + kIndexName;
    if (result == StoreResult::Done) {
        stored.done = true;
        stored.number = fieldNumber(stored.record, field::TextNum);
        return stored;
    }
    if (result == StoreResult::Damaged) return refused(refusal::damagedIndex(frame, indexPath), "damaged index");
    if (result != StoreResult::BodyFailed) return refused(refusal::cantWrite(frame, indexPath));
    StoredPost failed;
    failed.bareLine = frame.shown(board.dir + fieldText(stored.record, field::FileName));
    return failed;
}

StoredPost storeNewMessage(const Post& post, const BoardSettings& board, const Frame& frame, const SiteConfig& site,
                           BoardStore& store, std::time_t now, char* header, bool fresh) {
    StoredPost stored;
    const int count = fieldNumber(header, field::TextCount);
    const int serial = fieldNumber(header, field::FileSerial);
    if (count >= kMaxMessages || serial >= kMaxFileSerial) return refused(kBoardFull);
    fillRecord(stored.record, post, true, count + 1, serial + 1);
    putNumber(header, field::FileSerial, serial + 1);
    putNumber(header, field::TextCount, count + 1);
    putNumber(header, field::BoardNum, post.board);
    putText(header, field::HeaderSpare, "");
    stored.body = bodyFileBytes(*post.texts[4]);
    // Checked and remembered under the board's lock: two copies posted at
    // once cannot both pass, and a body is remembered only once stored.
    std::string fingerprint;
    if (site.spam.duplicateWindow > 0) {
        fingerprint = bodyFingerprint(post.texts[4]->c_str());
        const DefenceRecords records{site.bbsDir, site.eventLog};
        if (isRecentBody(records, post.board, fingerprint, now, site.spam.duplicateWindow)) {
            return refused(Refusal{Markup::raw(refusalMessage(SpamVerdict::Duplicate)), 403}, "duplicate_check");
        }
    }
    const StoreResult result = store.AppendRecord(header, stored.record, stored.body, fresh);
    stored = checkStored(std::move(stored), result, board, frame);
    if (stored.done && !fingerprint.empty()) {
        rememberBody(DefenceRecords{site.bbsDir, site.eventLog}, post.board, fingerprint, now, site.spam.duplicateWindow);
    }
    return stored;
}

StoredPost replaceMessage(const Post& post, const BoardSettings& board, const Frame& frame, BoardStore& store) {
    StoredPost stored;
    StoreResult read = store.ReadRecord(post.message, stored.record);
    if (read == StoreResult::Failed) return refused(refusal::cantOpen(frame, board.dir + kIndexName));
    if (read != StoreResult::Done) return refused(refusal::noSuchMessage(post.message));
    fillRecord(stored.record, post, false, 0, 0);
    stored.body = bodyFileBytes(*post.texts[4]);
    const StoreResult result = store.RewriteRecord(post.message, stored.record, stored.body);
    return checkStored(std::move(stored), result, board, frame);
}

}  // namespace

StoredPost storePost(const Post& post, const BoardSettings& board, const Frame& frame, const SiteConfig& site,
                     BoardStore& store, std::time_t now) {
    if (post.board < kLowestBoard || post.board > kHighestBoard) return refused(kNoBoard);
    if (!board.fits(kIndexName)) return refused(refusal::pathTooLong());
    const std::string indexPath = board.dir + kIndexName;
    switch (store.lockForChange()) {
        case StoreResult::Done: break;
        case StoreResult::NoBoard: return refused(kNoBoard);
        case StoreResult::NoStore: return refused(refusal::cantOpen(frame, indexPath));
        case StoreResult::LockFailed: return refused(refusal::boardLocked());
        default: return refused(refusal::cantWrite(frame, indexPath));
    }
    char header[kHeaderSize] = {};
    StoreResult head = store.ReadHeader(header);
    const bool fresh = head == StoreResult::NoStore && post.message == -1;
    if (head == StoreResult::Failed || (head == StoreResult::NoStore && !fresh)) return refused(refusal::cantOpen(frame, indexPath));
    if (head == StoreResult::Damaged) return refused(refusal::damagedIndex(frame, indexPath), "damaged index");
    // Appending to a store whose length disagrees with its count would put
    // the record where no reader finds it.
    if (!fresh && (!store.hasStoreLength() || fieldNumber(header, field::FileSerial) < 0)) {
        return refused(refusal::damagedIndex(frame, indexPath), "damaged index");
    }
    if (fresh) std::memset(header, 0, sizeof header);
    if (post.message == -1) return storeNewMessage(post, board, frame, site, store, now, header, fresh);
    return replaceMessage(post, board, frame, store);
}
