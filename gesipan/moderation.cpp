#include "moderation.h"

#include <ctime>

#include "events/event_log.h"

#include "store/board_store.h"
#include "json_text.h"
#include "spam/link_count.h"
#include "spam/reader_text.h"
#include "text/decimal.h"
#include "store/index_format.h"

namespace {

constexpr int kProgressEvery = 2000;

struct Message {
    int number;
    std::string record;
    bool hasBody = false;
    std::string body;
};

std::string field(const Message& message, StoreField f) { return fieldText(message.record.data(), f); }

std::string shown(const std::string& text) { return terminalText(text); }

// Counted as the posting limit counts them.
int linksOf(const Message& message) {
    return postLinks(field(message, field::Name).c_str(), field(message, field::Homepage).c_str(),
                     field(message, field::Subject).c_str(), message.body.c_str());
}

void showMessage(const Message& message, int board, const ShowOptions& options) {
    if (options.json) {
        std::fprintf(options.out,
                     "{\"board\":%d,\"number\":%d,\"Date\":%s,\"Time\":%s,\"Name\":%s,\"Subject\":%s,"
                     "\"RemoteHost\":%s,\"links\":%d}\n",
                     board, message.number, jsonText(field(message, field::Date)).c_str(),
                     jsonText(field(message, field::Time)).c_str(), jsonText(field(message, field::Name)).c_str(),
                     jsonText(field(message, field::Subject)).c_str(),
                     jsonText(field(message, field::RemoteHost)).c_str(), linksOf(message));
        return;
    }
    std::fprintf(options.out, "%4d  %s %s  %s  links %d  %s  %s\n", message.number,
                 shown(field(message, field::Date)).c_str(), shown(field(message, field::Time)).c_str(),
                 shown(field(message, field::RemoteHost)).c_str(), linksOf(message),
                 jsonText(field(message, field::Name)).c_str(), jsonText(field(message, field::Subject)).c_str());
}

// Record n and its body; false when either cannot be read. A body file
// too large for any page is said on `err` and the message taken without it.
bool readMessage(BoardStore& store, int board, int n, Message* message, std::FILE* err) {
    char record[kRecordSize];
    message->number = n;
    if (store.ReadRecord(n, record) != StoreResult::Done) return false;
    message->record.assign(record, kRecordSize);
    bool tooLarge = false;
    StoreResult body = store.readBody(field(*message, field::FileName), &message->body, &tooLarge);
    message->hasBody = body == StoreResult::Done;
    if (!message->hasBody) message->body.clear();
    if (tooLarge) {
        std::fprintf(err, "gesipan: board %d: message %d: body file %s is larger than %zu bytes; read without it\n",
                     board, n, terminalText(field(*message, field::FileName)).c_str(), kMaxBodyBytes);
        return true;
    }
    return body != StoreResult::Failed;
}

// The header read and the index as long as it says; false (and a line on
// `err`) otherwise. A board without an index has no messages.
bool readSoundHeader(BoardStore& store, int board, std::FILE* err) {
    char header[kHeaderSize];
    StoreResult head = store.ReadHeader(header);
    if (head == StoreResult::NoStore) return true;
    if (head == StoreResult::Done && store.hasStoreLength()) return true;
    std::fprintf(err, "gesipan: board %d: its index cannot be read whole; see gesipan check\n", board);
    return false;
}

std::string asciiLower(const std::string& text) {
    std::string lower = text;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(lower[i]);
        if (c >= 0x81) {
            ++i;  // the second byte of a character may look like a letter
        } else if (c >= 'A' && c <= 'Z') {
            lower[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

bool sameHost(const std::string& a, const std::string& b) {
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

bool rangeHolds(const Selection& selection, int n) {
    for (const auto& range : selection.ranges) {
        if (n >= range.first && n <= range.second) return true;
    }
    return false;
}

bool selected(const Selection& selection, const Message& message) {
    if (rangeHolds(selection, message.number)) return true;
    for (const std::string& host : selection.hosts) {
        if (sameHost(field(message, field::RemoteHost), host)) return true;
    }
    for (const std::string& word : selection.words) {
        for (StoreField f : {field::Name, field::Email, field::Subject, field::Homepage}) {
            if (holdsWord(field(message, f), word)) return true;
        }
        if (holdsWord(message.body, word)) return true;
    }
    return false;
}

}  // namespace

bool parseRange(const std::string& text, std::pair<int, int>* range) {
    const std::size_t dash = text.find('-');
    const std::string first = text.substr(0, dash);
    const std::string last = dash == std::string::npos ? first : text.substr(dash + 1);
    for (const std::string* part : {&first, &last}) {
        if (part->empty() || part->size() > 4 || part->find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
    }
    range->first = decimalValue(first.c_str());
    range->second = decimalValue(last.c_str());
    return range->first >= 1 && range->first <= range->second;
}

bool holdsWord(const std::string& text, const std::string& word) {
    // As the ban list judges a post: by what its reader sees.
    return readerHoldsWord(readerText(text.c_str()), asciiLower(word));
}

int listBoard(int board, const std::string& dir, int limit, const ShowOptions& options) {
    BoardStore store(dir.c_str());
    store.lockForReading();
    if (!readSoundHeader(store, board, options.err)) return 1;
    const int count = store.messageCount();
    const int shownCount = limit < count ? limit : count;
    if (!options.json) std::fprintf(options.out, "board %d: %d of %d messages, newest first\n", board, shownCount, count);
    for (int n = count; n > count - shownCount; --n) {
        Message message;
        if (!readMessage(store, board, n, &message, options.err)) {
            std::fprintf(options.err, "gesipan: board %d: message %d cannot be read\n", board, n);
            return 1;
        }
        showMessage(message, board, options);
    }
    if (std::fflush(options.out) != 0) return 1;
    return 0;
}

int eraseMessages(int board, const std::string& dir, const Selection& selection, bool dryRun,
                  const ShowOptions& options) {
    auto refuse = [&](const std::string& why) {
        std::fprintf(options.err, "gesipan: board %d: %s; nothing erased\n", board, why.c_str());
        return 1;
    };
    BoardStore store(dir.c_str());
    // A dry run changes nothing, so it need not keep the site waiting.
    if (dryRun) {
        store.lockForReading();
    } else {
        StoreResult locked = store.lockForChange();
        if (locked == StoreResult::NoStore) return refuse("no board directory " + dir);
        if (locked != StoreResult::Done) return refuse("the board is locked or cannot be recovered");
    }
    if (!readSoundHeader(store, board, options.err)) return refuse("repair it first");
    const int count = store.messageCount();
    for (const auto& range : selection.ranges) {
        if (range.second > count) {
            return refuse("no message " + std::to_string(range.second) + ", it holds " + std::to_string(count));
        }
    }
    std::vector<Message> chosen;
    std::vector<int> numbers;
    for (int n = count; n >= 1; --n) {
        if (options.progress && count > kProgressEvery && n < count && (count - n) % kProgressEvery == 0) {
            std::fprintf(options.progress, "gesipan: board %d: %d of %d messages read\n", board, count - n, count);
        }
        Message message;
        if (!readMessage(store, board, n, &message, options.err)) {
            return refuse("message " + std::to_string(n) + " cannot be read");
        }
        if (!selected(selection, message)) continue;
        numbers.push_back(n);
        chosen.push_back(std::move(message));
    }
    const int erasing = static_cast<int>(numbers.size());
    if (!dryRun && erasing > 0) {
        std::string erased;
        StoreResult removed = store.RemoveRecords(numbers, &erased);
        if (removed == StoreResult::Damaged) return refuse("its index is damaged (see gesipan check); repair it first");
        if (removed != StoreResult::Done) return refuse("the change could not be written; the board is as it was");
        const std::time_t now = std::time(nullptr);
        for (int n : numbers) logEvent(options.eventLog, Event{now, "erase", board, n, "gesipan", ""});
    }
    // Shown only now: no line claims an erase that did not happen.
    for (const Message& message : chosen) showMessage(message, board, options);
    if (!options.json) {
        if (erasing == 0) {
            std::fprintf(options.out, "board %d: none of %d messages selected; nothing erased\n", board, count);
        } else if (dryRun) {
            std::fprintf(options.out, "board %d: would erase %d of %d messages\n", board, erasing, count);
        } else {
            std::fprintf(options.out, "board %d: erased %d of %d messages; %d left, numbered from 1 again\n", board,
                         erasing, count, count - erasing);
        }
    }
    if (std::fflush(options.out) == 0 && !std::ferror(options.out)) return 0;
    if (!dryRun && erasing > 0) {
        std::fprintf(options.err, "gesipan: board %d: erased %d of %d messages, but this report could not be written\n",
                     board, erasing, count);
    }
    return 1;
}
