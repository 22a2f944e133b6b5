// A power cut at any point of a change, whatever of its unsynced bytes
// the disk kept, leaves a board that the next requests bring to as before
// or as after the change; never lose a change whose page was out; and the
// board goes on taking posts, edits, views and erases. Each change is run
// once under strace, every state the disk may keep is laid down in a
// scratch board (see disk_states.h for the model), and recovered through
// the programs as a site would: a listing, then a request that takes the
// exclusive lock.
#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "board_check.h"
#include "board_files.h"
#include "cgi_runner.h"
#include "disk_states.h"
#include "scratch_site.h"

namespace {

struct Operation {
    std::string name;
    int messages;  // the board before: this many messages, 0 for no store
    std::string program;
    std::string query;
    std::string body;
    std::string doneMarker;  // the page's word that the change was made
    int countedRecord = 0;   // a record whose ReadCount starts at 99
    std::string toolArgs = "";  // the operator's tool: its arguments after --conf
};

void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

const char kPost[] = "n=P&e=&h=&s=New&b=a%0D%0Ab";
const char kStored[] = "<caption>";
const char kErased[] = "Successfully removed.";

const std::vector<Operation> kOperations = {
    {"first post", 0, "SavePage", "BoardNum=1&TextNum=-1", kPost, kStored},
    {"post to five", 5, "SavePage", "BoardNum=1&TextNum=-1", kPost, kStored},
    // The tenth record spans the index's first 4 KiB block and its second.
    {"post across a block", 9, "SavePage", "BoardNum=1&TextNum=-1", kPost, kStored},
    {"edit", 5, "SavePage", "BoardNum=1&TextNum=3", "n=E&e=&h=&s=Edited&b=new+body&password=secret", kStored},
    {"erase first", 5, "DropPage", "BoardNum=1&TextNum=1", "password=secret", kErased},
    {"erase middle", 5, "DropPage", "BoardNum=1&TextNum=3", "password=secret", kErased},
    {"erase last", 5, "DropPage", "BoardNum=1&TextNum=5", "password=secret", kErased},
    {"erase only", 1, "DropPage", "BoardNum=1&TextNum=1", "password=secret", kErased},
    {"view", 5, "ShowPage", "BoardNum=1&TextNum=2", "", " 읽은횟수 </font></th><td>   1</td>"},
    // Record 189's count: 99 to 100 changes digits on both sides of a
    // 512-byte sector boundary.
    {"view across a sector", 189, "ShowPage", "BoardNum=1&TextNum=189", "", " 읽은횟수 </font></th><td> 100</td>",
     189},
    {"batch erase", 5, "gesipan", "", "", "erased 3 of 5 messages", 0, "erase 1 2 4-5"},
    {"batch erase of all", 5, "gesipan", "", "", "erased 5 of 5 messages", 0, "erase 1 --word writer"},
};

// The traced run of `op`; the tool's arguments go through a shell that
// execs it, so the trace follows the tool itself.
std::vector<std::string> tracedLauncher(const Operation& op, const std::string& traceFile) {
    std::vector<std::string> launcher = fileTraceLauncher(traceFile);
    if (op.toolArgs.empty()) return launcher;
    for (const std::string& word : {std::string("/bin/sh"), std::string("-c"),
                                    "exec \"$0\" --conf GuestBook.conf " + op.toolArgs}) {
        launcher.push_back(word);
    }
    return launcher;
}

class Board {
public:
    explicit Board(const Operation& op) {
        site.writeStandardConfig();
        dir = site.boardDir(1);
        if (op.messages == 0) return;
        std::string index = indexOfMessages(op.messages, 1);
        if (op.countedRecord > 0) index.replace(410 * op.countedRecord - 285 + 105, 4, "  99");
        site.writeBoardFile(1, "guestbook.dat", index);
        for (int n = 1; n <= op.messages; ++n) site.writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "body " + std::to_string(n));
    }
    explicit Board(const DiskFiles& files) {
        site.writeStandardConfig();
        dir = site.boardDir(1);
        for (const auto& [name, bytes] : files) writeFile(dir + name, bytes);
    }

    CgiResult run(const std::string& program, const std::string& query, const std::string& body,
                  const std::vector<std::string>& launcher = {}) {
        CgiRequest request;
        request.query = query;
        request.body = body;
        request.env["REMOTE_HOST"] = "client.example";
        request.launcher = launcher;
        request.programDir = PLAIN_PROGRAM_DIR;
        return runCgi(program, site.cgiBin(), request);
    }
    // The listing's rows without their dates: what a reader sees.
    std::string listing() {
        std::string page = run("ListPage", "BoardNum=1&TextNum=0", "").output;
        static const std::regex date("<font size=-1>[0-9]{4}[^<]*</font>");
        return std::regex_replace(page, date, "<font size=-1>D</font>");
    }
    // Every file of the board directory, as the disk model takes it.
    DiskFiles files() const {
        DiskFiles found;
        DIR* opened = ::opendir(dir.c_str());
        while (dirent* entry = opened ? ::readdir(opened) : nullptr) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") found[name] = readFile(dir + name);
        }
        if (opened) ::closedir(opened);
        return found;
    }
    // "" when a post, an edit, a view and an erase all succeed.
    std::string refusedChange() {
        if (run("SavePage", "BoardNum=1&TextNum=-1", "n=N&e=&h=&s=Next&b=x").output.find(kStored) == std::string::npos) {
            return "a post";
        }
        if (run("SavePage", "BoardNum=1&TextNum=1", "n=N&e=&h=&s=S&b=y&password=secret").output.find(kStored) ==
            std::string::npos) {
            return "an edit";
        }
        if (run("ShowPage", "BoardNum=1&TextNum=1", "").output.find(kStored) == std::string::npos) return "a view";
        if (run("DropPage", "BoardNum=1&TextNum=1", "password=secret").output.find(kErased) == std::string::npos) {
            return "an erase";
        }
        return boardProblems(dir).empty() ? "" : "the rules kept (" + boardProblems(dir) + ")";
    }

    ScratchSite site;
    std::string dir;
};

struct Verdicts;

struct Verdicts {
    int tried = 0;
    int recoveryCuts = 0;                     // states of a recovery cut short
    std::map<std::string, int> violations;  // by kind
    int total() const {
        int sum = 0;
        for (const auto& entry : violations) sum += entry.second;
        return sum;
    }
};

class PowerCut : public ::testing::TestWithParam<Operation> {
protected:
    // The kind of violation a state leads to, or "".
    std::string judge(const DiskState& state, std::string* detail) {
        const Operation& op = GetParam();
        Board board(state.files);
        std::string listing = board.listing();
        // A view of no message takes the exclusive lock and changes nothing.
        board.run("ShowPage", "BoardNum=1&TextNum=0", "");
        BoardSnapshot now = snapshotBoard(board.dir);
        bool isBefore = snapshotDifference(now, before_).empty();
        bool isAfter = snapshotDifference(now, after_).empty();
        std::string rules = boardProblems(board.dir);
        // The counted view may lose its count; a change may not.
        bool mayLose = op.program == "ShowPage";
        if (!isBefore && !isAfter) {
            *detail = "after: " + snapshotDifference(now, after_) + "; before: " + snapshotDifference(now, before_);
            std::string refused = board.refusedChange();
            if (!refused.empty()) {
                *detail += "; refuses " + refused;
                return refused.compare(0, 5, "the r") == 0 ? "breaks the store's rules after the next changes"
                                                            : "refuses changes";
            }
            return rules.empty() ? "half a change" : "breaks the store's rules";
        }
        if (isBefore && state.acknowledged && !mayLose) return "loses an acknowledged change";
        if (listing != beforeListing_ && listing != afterListing_) return "lists neither before nor after";
        // Equal boards take the next changes alike: try each outcome once.
        bool& tried = isAfter ? afterTried_ : beforeTried_;
        if (!tried) {
            tried = true;
            std::string refused = board.refusedChange();
            if (!refused.empty()) {
                *detail = "refuses " + refused;
                return "refuses changes";
            }
        }
        return "";
    }

    // A committed change found after a cut is carried out by the next
    // lock holder; a second cut during that recovery must still end where
    // an uncut recovery ends. Returns the states tried and counts the
    // violations into `verdicts`.
    int judgeRecoveryCuts(const DiskState& state, struct Verdicts& verdicts);

    BoardSnapshot before_;
    BoardSnapshot after_;
    std::string beforeListing_;
    std::string afterListing_;
    bool beforeTried_ = false;
    bool afterTried_ = false;
};

int PowerCut::judgeRecoveryCuts(const DiskState& state, Verdicts& verdicts) {
    if (!state.files.count("guestbook.redo")) return 0;
    Board traced(state.files);
    const std::string traceFile = traced.site.root() + "/trace";
    traced.run("ShowPage", "BoardNum=1&TextNum=0", "", fileTraceLauncher(traceFile));
    const BoardSnapshot recovered = snapshotBoard(traced.dir);
    int tried = 0;
    // Nothing of a recovery is acknowledged: no marker.
    for (const DiskState& cut : crashStates(readFile(traceFile), traced.dir, state.files, "\x01")) {
        ++tried;
        Board board(cut.files);
        board.listing();
        board.run("ShowPage", "BoardNum=1&TextNum=0", "");
        std::string difference = snapshotDifference(snapshotBoard(board.dir), recovered);
        if (difference.empty()) continue;
        if (verdicts.violations["a cut recovery ends elsewhere"]++ < 3) {
            ADD_FAILURE() << "a cut recovery ends elsewhere (" << difference << ") at " << state.how << ", then "
                          << cut.how;
        }
    }
    return tried;
}

TEST_P(PowerCut, EveryStateComesBackAsBeforeOrAfter) {
    const Operation& op = GetParam();
    Board traced(op);
    beforeListing_ = traced.listing();
    before_ = snapshotBoard(traced.dir);
    const DiskFiles initial = traced.files();
    const std::string traceFile = traced.site.root() + "/trace";
    CgiResult result = traced.run(op.program, op.query, op.body, tracedLauncher(op, traceFile));
    ASSERT_NE(result.output.find(op.doneMarker), std::string::npos) << result.output;
    after_ = snapshotBoard(traced.dir);
    afterListing_ = traced.listing();
    ASSERT_NE(snapshotDifference(before_, after_), "");
    const std::string trace = readFile(traceFile);

    std::vector<DiskState> states = crashStates(trace, traced.dir, initial, op.doneMarker);
    // At least the board before, and after.
    ASSERT_GE(states.size(), 2u);
    Verdicts verdicts;
    for (const DiskState& state : states) {
        ++verdicts.tried;
        std::string detail;
        std::string kind = judge(state, &detail);
        if (kind.empty()) continue;
        if (verdicts.violations[kind]++ < 3) ADD_FAILURE() << kind << " (" << detail << ") at " << state.how;
    }
    // Recoveries themselves cut short, for every state that leaves a
    // committed change behind.
    for (const DiskState& state : states) verdicts.recoveryCuts += judgeRecoveryCuts(state, verdicts);
    std::printf("%s: %d crash states tried, %d more in recoveries, %d violations", op.name.c_str(), verdicts.tried,
                verdicts.recoveryCuts, verdicts.total());
    for (const auto& [kind, count] : verdicts.violations) std::printf("; %s: %d", kind.c_str(), count);
    std::printf("; %d syncs, %d before the page\n", syncCalls(trace), syncCallsBeforeOutput(trace));
    EXPECT_EQ(verdicts.total(), 0);
    // A page waits for its commit alone (the record's data, the name in the
    // directory); the steps and their syncs follow it. An erase of the
    // first or a middle message also waits for its shorter index, too big
    // for the record.
    if (op.toolArgs.empty()) {
        const bool shorterIndex = op.name == "erase first" || op.name == "erase middle";
        EXPECT_GE(syncCallsBeforeOutput(trace), 0);
        EXPECT_LE(syncCallsBeforeOutput(trace), shorterIndex ? 3 : 2);
    }
}

// The operator's password replaces GuestBook.conf: a cut leaves the old
// file or the new one, and the new one once the tool said so.
TEST(PowerCutOfGesipan, PasswordLeavesTheOldOrTheNewConfiguration) {
    ScratchSite site;
    site.writeStandardConfig();
    const std::string dir = site.cgiBin() + "/";
    const DiskFiles initial = {{"GuestBook.conf", readFile(dir + "GuestBook.conf")}};
    const std::string traceFile = site.root() + "/trace";
    CgiRequest request;
    request.body = "new pass\nnew pass\n";
    request.programDir = PLAIN_PROGRAM_DIR;
    // The tool takes arguments; a shell passes them on and execs it, so the
    // trace follows the tool itself.
    request.launcher = fileTraceLauncher(traceFile);
    for (const char* word : {"/bin/sh", "-c", "exec \"$0\" --conf GuestBook.conf password"}) request.launcher.push_back(word);
    CgiResult result = runCgi("gesipan", site.cgiBin(), request);
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string after = readFile(dir + "GuestBook.conf");
    ASSERT_NE(after, initial.at("GuestBook.conf"));

    std::vector<DiskState> states = crashStates(readFile(traceFile), dir, initial, "password set", site.cgiBin());
    int violations = 0;
    for (const DiskState& state : states) {
        auto conf = state.files.find("GuestBook.conf");
        bool isOld = conf != state.files.end() && conf->second == initial.at("GuestBook.conf");
        bool isNew = conf != state.files.end() && conf->second == after;
        if (isNew || (isOld && !state.acknowledged)) continue;
        if (++violations <= 3) ADD_FAILURE() << (isOld ? "the new password lost" : "neither file whole") << " at " << state.how;
    }
    std::printf("gesipan password: %zu crash states tried, %d violations; %d syncs\n", states.size(), violations,
                syncCalls(readFile(traceFile)));
    EXPECT_GT(states.size(), 2u);
    EXPECT_EQ(violations, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryChange, PowerCut, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) c = c == ' ' ? '_' : c;
                             return name;
                         });

}  // namespace
