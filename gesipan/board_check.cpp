#include "board_check.h"

#include <cstdarg>
#include <cstring>
#include <map>
#include <set>
#include <sys/stat.h>

#include "json_text.h"
#include "store/board_store.h"
#include "store/redo_record.h"
#include "store/index_format.h"

namespace {

// A board large enough that a look at it takes a while.
constexpr std::size_t kProgressEvery = 2000;

std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The serial of a body file name "guestbook<digits>.html", else -1.
long long serialOf(const std::string& name) {
    const std::size_t prefix = std::strlen(kBodyPrefix);
    const std::string suffix = ".html";
    if (name.size() <= prefix + suffix.size() || name.compare(0, prefix, kBodyPrefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return -1;
    }
    std::string digits = name.substr(prefix, name.size() - prefix - suffix.size());
    if (digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(digits);
}

// A stored text (a record's field, a name read from one) for the owner's terminal.
std::string safe(const std::string& text) { return terminalText(text); }

enum class Kind { Missing, Plain, Other };

long long sizeOf(const std::string& dir, const std::string& name) {
    struct stat info;
    return ::lstat((dir + name).c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

Kind kindOf(const std::string& dir, const std::string& name) {
    struct stat info;
    if (::lstat((dir + name).c_str(), &info) != 0) return Kind::Missing;
    return S_ISREG(info.st_mode) ? Kind::Plain : Kind::Other;
}

// What one look at a board found.
struct BoardView {
    bool hasDir = false;
    bool hasIndex = false;
    std::string index;
    std::vector<std::string> names;
};

struct NewBody {
    std::string name;
    std::string copyOf;  // the body file to copy; empty for an empty body
    std::string action;
};

struct Analysis {
    std::vector<std::string> problems;
    bool indexChanges = false;
    std::string index;  // the mended index
    std::vector<NewBody> bodies;
    std::vector<std::pair<std::string, std::string>> moves;
    std::vector<std::string> actions;
    std::size_t messages = 0;
};

bool lookAt(BoardStore& store, BoardView* view) {
    StoreResult listed = store.ListNames(&view->names);
    if (listed == StoreResult::NoStore) return true;
    if (listed != StoreResult::Done) return false;
    view->hasDir = true;
    StoreResult read = store.ReadWholeIndex(&view->index);
    if (read == StoreResult::Failed) return false;
    view->hasIndex = read == StoreResult::Done;
    return true;
}

// Two records that differ in TextNum alone: the older program's erase
// leaves such a copy of the last record in the slot past the count.
bool sameButNumber(const std::string& a, const std::string& b) {
    const std::size_t from = field::TextNum.offset + field::TextNum.width;
    return a.compare(from, std::string::npos, b, from, std::string::npos) == 0;
}

// The last record of an index cut short (a power cut lost its end), made
// whole again when what is left can be matched: its number follows the
// whole records, every text before FileName is whole, the count says it
// was committed, and exactly one plain body file that no whole record names
// has a serial above all they name (and starts with what is left of
// FileName). Empty, with `why` set, when it cannot be matched.
std::string keptCutRecord(const std::string& tail, const std::vector<std::string>& records, bool committed,
                          const std::string& dir, const std::vector<std::string>& names, std::string* why) {
    const std::size_t texts = static_cast<std::size_t>(field::FileName.offset);
    if (!committed) {
        *why = "TextCount does not count it, so it was never committed";
        return "";
    }
    if (tail.size() < texts) {
        *why = printed("its texts are cut (%zu of the %zu bytes before FileName are left)", tail.size(), texts);
        return "";
    }
    std::string record = tail + std::string(static_cast<std::size_t>(kRecordSize) - tail.size(), '\0');
    if (fieldText(record.data(), field::TextNum) != std::to_string(records.size() + 1)) {
        *why = printed("its TextNum \"%s\" does not follow record %zu",
                       safe(fieldText(record.data(), field::TextNum)).c_str(), records.size());
        return "";
    }
    std::set<std::string> named;
    long long highest = 0;
    for (const std::string& r : records) {
        const std::string name = fieldText(r.data(), field::FileName);
        named.insert(name);
        if (serialOf(name) > highest) highest = serialOf(name);
    }
    std::vector<std::string> candidates;
    for (const std::string& name : names) {
        if (serialOf(name) > highest && !named.count(name) && kindOf(dir, name) == Kind::Plain) candidates.push_back(name);
    }
    if (candidates.size() != 1) {
        *why = candidates.empty() ? "no body file that no record names follows the others"
                                  : printed("%zu body files could be its own", candidates.size());
        return "";
    }
    const std::string left = tail.substr(texts, tail.find('\0', texts) == std::string::npos
                                                    ? std::string::npos
                                                    : tail.find('\0', texts) - texts);
    const bool nameWhole = tail.find('\0', texts) != std::string::npos;
    if (candidates[0].compare(0, left.size(), left) != 0 || (nameWhole && left != candidates[0])) {
        *why = "what is left of its FileName is not " + candidates[0];
        return "";
    }
    putText(&record[0], field::FileName, candidates[0].c_str());
    return record;
}

Analysis analyse(int board, const std::string& dir, const BoardView& view, const CheckOptions& options) {
    Analysis a;
    auto problem = [&a](const std::string& text) { a.problems.push_back(text); };
    if (!view.hasDir) {
        problem(printed("no board directory %s", dir.c_str()));
        return a;
    }
    const std::set<std::string> names(view.names.begin(), view.names.end());
    for (const char* scratch : {kScratchName, kBodyScratchName, kRedoScratchName, kRedoName}) {
        if (names.count(scratch)) problem(printed("%s: left behind by a change that did not finish", scratch));
    }

    std::string header(kHeaderSize, '\0');
    std::vector<std::string> records;
    bool rebuild = false;
    if (view.hasIndex) {
        const std::string& index = view.index;
        const bool headerWhole = index.size() >= static_cast<std::size_t>(kHeaderSize);
        if (!headerWhole) {
            problem(printed("%s: header cut short at %zu bytes", kIndexName, index.size()));
            header.replace(0, index.size(), index);
            putNumber(&header[0], field::BoardNum, board);
            rebuild = true;
        } else {
            header = index.substr(0, kHeaderSize);
        }
        const std::size_t body = headerWhole ? index.size() - kHeaderSize : 0;
        const std::size_t whole = body / kRecordSize;
        if (body % kRecordSize != 0) {
            problem(printed("%s: %zu bytes of a record cut short after record %zu", kIndexName, body % kRecordSize,
                            whole));
            rebuild = true;
        }
        for (std::size_t i = 0; i < whole; ++i) records.push_back(index.substr(kHeaderSize + i * kRecordSize, kRecordSize));

        const std::string countText = fieldText(header.data(), field::TextCount);
        const int count = fieldNumber(header.data(), field::TextCount);
        const bool countValid = headerWhole && count >= 0 && count <= kMaxMessages;
        if (body % kRecordSize != 0) {
            std::string why;
            const bool committed = countValid && static_cast<std::size_t>(count) == whole + 1;
            std::string kept = keptCutRecord(index.substr(kHeaderSize + whole * kRecordSize), records, committed, dir,
                                             view.names, &why);
            if (kept.empty()) {
                a.actions.push_back(printed("the record cut short after record %zu dropped: %s", whole, why.c_str()));
            } else {
                records.push_back(kept);
                a.actions.push_back(printed("the record cut short after record %zu kept as record %zu with body file %s",
                                            whole, whole + 1, fieldText(kept.data(), field::FileName).c_str()));
            }
        }
        // A record equal to the one before it but for TextNum is the same
        // message twice: the older program's erase leaves such a copy.
        std::vector<std::string> unique;
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (!unique.empty() && sameButNumber(records[i], unique.back())) {
                problem(printed("record %zu: a stale copy of record %zu", i + 1, i));
                rebuild = true;
            } else {
                unique.push_back(records[i]);
            }
        }
        records.swap(unique);
        if (countValid && records.size() == static_cast<std::size_t>(count) + 1) {
            // What the store's own recovery cuts too: a post that died before its commit.
            problem(printed("record %zu: past TextCount %d, never committed", records.size(), count));
            records.pop_back();
            rebuild = true;
        }
        if (!countValid || static_cast<std::size_t>(count) != records.size()) {
            problem(printed("%s: TextCount \"%s\" but %zu whole records", kIndexName, safe(countText).c_str(),
                            records.size()));
            rebuild = true;
        }
        for (std::size_t i = 0; i < records.size(); ++i) {
            const std::string number = fieldText(records[i].data(), field::TextNum);
            if (number != std::to_string(i + 1)) {
                problem(printed("record %zu: TextNum \"%s\", not its position", i + 1, safe(number).c_str()));
                rebuild = true;
            }
        }
    }
    a.messages = records.size();

    // Body files: each record its own plain file, no file without a record.
    long long serial = 0;
    std::map<std::string, std::size_t> named;
    std::vector<std::size_t> needNames;
    std::vector<std::string> copyFrom;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (options.progress && records.size() > kProgressEvery && i > 0 && i % kProgressEvery == 0) {
            std::fprintf(options.progress, "gesipan: board %d: %zu of %zu records\n", board, i, records.size());
        }
        const std::string name = fieldText(records[i].data(), field::FileName);
        if (serialOf(name) > serial) serial = serialOf(name);
        if (!isPlainBodyName(name)) {
            problem(printed("record %zu: FileName \"%s\" names no body file of the board", i + 1, safe(name).c_str()));
            needNames.push_back(i);
            copyFrom.push_back("");
        } else if (named.count(name)) {
            problem(printed("record %zu: body file %s is record %zu's too", i + 1, safe(name).c_str(),
                            named[name] + 1));
            needNames.push_back(i);
            copyFrom.push_back(kindOf(dir, name) == Kind::Plain ? name : "");
        } else {
            named[name] = i;
            Kind kind = kindOf(dir, name);
            if (kind == Kind::Missing && serialOf(name) < 0) {
                // A name read from a damaged record may be anything: the file
                // is made under a name of the board's own instead.
                problem(printed("record %zu: body file %s is missing", i + 1, safe(name).c_str()));
                needNames.push_back(i);
                copyFrom.push_back("");
            } else if (kind == Kind::Missing) {
                problem(printed("record %zu: body file %s is missing", i + 1, name.c_str()));
                a.bodies.push_back({name, "", printed("record %zu: empty body file %s created", i + 1, name.c_str())});
            } else if (kind == Kind::Other) {
                problem(printed("record %zu: body file %s is not a plain file", i + 1, safe(name).c_str()));
            } else if (sizeOf(dir, name) > static_cast<long long>(kMaxBodyBytes)) {
                problem(printed("record %zu: body file %s is larger than %zu bytes; no page shows it", i + 1,
                                safe(name).c_str(), kMaxBodyBytes));
            }
        }
    }
    for (const std::string& name : view.names) {
        if (serialOf(name) < 0) continue;
        if (serialOf(name) > serial) serial = serialOf(name);
        if (named.count(name)) continue;
        problem(printed("%s: a body file that no record names", safe(name).c_str()));
        if (options.moveOrphans && kindOf(dir, name) == Kind::Plain) {
            std::string aside = asideName(name);
            for (int k = 2; names.count(aside) || kindOf(dir, aside) != Kind::Missing; ++k) {
                aside = asideName(name) + "." + std::to_string(k);
            }
            a.moves.emplace_back(name, aside);
            a.actions.push_back(printed("%s moved aside to %s", name.c_str(), aside.c_str()));
        }
    }
    if (!view.hasIndex) return a;

    const int fileSerial = fieldNumber(header.data(), field::FileSerial);
    if (fileSerial < 0 || fileSerial < serial) {
        // The next post would take the name of a file that is there.
        problem(printed("%s: FileSerial %d below body file serial %lld", kIndexName, fileSerial, serial));
        rebuild = true;
    }
    if (serial < fileSerial) serial = fileSerial;
    if (serial + static_cast<long long>(needNames.size()) > 999999999) {
        problem(printed("%s: no body file serials left", kIndexName));
        return a;
    }
    for (std::size_t k = 0; k < needNames.size(); ++k) {
        const std::size_t i = needNames[k];
        std::string name = printed("%s%lld.html", kBodyPrefix, ++serial);
        putFormatted(&records[i][0], field::FileName, "%s", name.c_str());
        a.bodies.push_back({name, copyFrom[k],
                            printed("record %zu: body file %s %s", i + 1, name.c_str(),
                                    copyFrom[k].empty() ? "created empty"
                                                        : ("copied from " + safe(copyFrom[k])).c_str())});
        rebuild = true;
    }
    if (!rebuild) return a;
    putNumber(&header[0], field::TextCount, static_cast<int>(records.size()));
    putNumber(&header[0], field::FileSerial, static_cast<int>(serial));
    a.index = header;
    for (std::size_t i = 0; i < records.size(); ++i) {
        putNumber(&records[i][0], field::TextNum, static_cast<int>(i + 1));
        a.index += records[i];
    }
    a.indexChanges = true;
    a.actions.insert(a.actions.begin(), printed("%s replaced: %zu records numbered 1 to %zu, FileSerial %lld",
                                                kIndexName, records.size(), records.size(), serial));
    return a;
}

void report(std::FILE* out, int board, const char* what, const std::string& text) {
    std::fprintf(out, "board %d: %s%s\n", board, what, text.c_str());
}

void summary(std::FILE* out, int board, const Analysis& a, const char* left) {
    const char* messages = a.messages == 1 ? "message" : "messages";
    if (a.problems.empty()) {
        std::fprintf(out, "board %d: ok, %zu %s\n", board, a.messages, messages);
    } else {
        std::fprintf(out, "board %d: %zu %s, %zu problem%s%s\n", board, a.messages, messages, a.problems.size(),
                     a.problems.size() == 1 ? "" : "s", left);
    }
}

// The shared-lock look at a board; false when it could not be read.
bool lookShared(int board, const std::string& dir, const CheckOptions& options, Analysis* a, std::FILE* out) {
    BoardStore store(dir.c_str());
    bool locked = store.lockForReading();
    BoardView view;
    if (!lookAt(store, &view)) {
        report(out, board, "", "cannot read the board's files in " + dir);
        return false;
    }
    // Without the lock (no lock file could be made) a change under way may show.
    if (!locked && view.hasDir) report(out, board, "", "read without the board's lock");
    *a = analyse(board, dir, view, options);
    return true;
}

}  // namespace

std::string asideName(const std::string& name) { return "orphan-" + name; }

int checkBoard(int board, const std::string& dir, std::FILE* out, const CheckOptions& options) {
    Analysis a;
    if (!lookShared(board, dir, options, &a, out)) return -1;
    for (const std::string& problem : a.problems) report(out, board, "", problem);
    summary(out, board, a, "");
    return static_cast<int>(a.problems.size());
}

int repairBoard(int board, const std::string& dir, std::FILE* out, const CheckOptions& options) {
    Analysis found;
    if (!lookShared(board, dir, options, &found, out)) return -1;
    for (const std::string& problem : found.problems) report(out, board, "found: ", problem);
    if (found.problems.empty()) {
        summary(out, board, found, "");
        return 0;
    }

    BoardStore store(dir.c_str());
    StoreResult locked = store.lockForChange();
    if (locked != StoreResult::Done && locked != StoreResult::NoStore) {
        report(out, board, "", "cannot lock the board for the repair");
        return -1;
    }
    // The lock finished or undid what a change left; the rest is ours.
    BoardView view;
    if (locked == StoreResult::Done && !lookAt(store, &view)) {
        report(out, board, "", "cannot read the board's files in " + dir);
        return -1;
    }
    Analysis plan = analyse(board, dir, view, options);
    for (const std::string& problem : found.problems) {
        bool still = false;
        for (const std::string& now : plan.problems) still = still || now == problem;
        if (!still) report(out, board, "mended by the store's recovery: ", problem);
    }
    for (const NewBody& body : plan.bodies) {
        std::string bytes;
        if (!body.copyOf.empty() && store.readBody(body.copyOf, &bytes) != StoreResult::Done) {
            report(out, board, "", "cannot read " + safe(body.copyOf));
            return -1;
        }
        StoreResult made = store.CreateBody(body.name, bytes);
        if (made != StoreResult::Done) {
            report(out, board, "", "cannot create " + safe(body.name));
            return -1;
        }
        report(out, board, "repaired: ", body.action);
    }
    if (plan.indexChanges || !plan.moves.empty()) {
        if (store.ReplaceIndex(plan.indexChanges ? plan.index : std::string(), plan.moves) != StoreResult::Done) {
            report(out, board, "", "cannot replace the index; the board is as it was");
            return -1;
        }
        for (const std::string& action : plan.actions) report(out, board, "repaired: ", action);
    }
    store.unlock();

    Analysis after;
    if (!lookShared(board, dir, options, &after, out)) return -1;
    for (const std::string& problem : after.problems) {
        report(out, board, "left: ", problem);
    }
    summary(out, board, after, " left");
    return static_cast<int>(after.problems.size());
}
