// Every changing request, killed at each of its system calls in turn and
// given a failure at each call that touches a file, leaves its board as
// before or as after; its page never claims a change that did not happen,
// the next reader sees one of the two, and the board takes the next post,
// edit, view and erase. Runs the programs, and the operator's batch erase,
// under strace's fault injection.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "board_check.h"
#include "board_files.h"
#include "cgi_runner.h"
#include "spam/form_token.h"
#include "scratch_site.h"

namespace {

struct Operation {
    std::string name;
    int messages;  // the board before: this many messages, 0 for no store
    std::string program;
    std::string query;
    std::string body;
    std::string doneMarker;  // printed only when the change was made
    std::vector<std::string> args;  // the operator's tool: its arguments
    bool defences = false;          // every spam defence on; TOKEN in a body stands for a valid form token
};

// The tool says so when it changed nothing; a page says so by being a page
// without the done marker.
const char kToolChangedNothing[] = "nothing erased";

// Names the operation in test names and messages.
void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

const std::vector<Operation> kOperations = {
    {"first post", 0, "SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=New&b=a%0D%0Ab", "<caption>", {}},
    {"post to five", 5, "SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=New&b=a%0D%0Ab", "<caption>", {}},
    {"edit", 5, "SavePage", "BoardNum=1&TextNum=3", "n=E&e=&h=&s=Edited&b=new+body&password=secret", "<caption>", {}},
    {"erase first", 5, "DropPage", "BoardNum=1&TextNum=1", "password=secret", "Successfully removed.", {}},
    {"erase middle", 5, "DropPage", "BoardNum=1&TextNum=3", "password=secret", "Successfully removed.", {}},
    {"erase last", 5, "DropPage", "BoardNum=1&TextNum=5", "password=secret", "Successfully removed.", {}},
    {"erase only", 1, "DropPage", "BoardNum=1&TextNum=1", "password=secret", "Successfully removed.", {}},
    {"view", 5, "ShowPage", "BoardNum=1&TextNum=2", "", " 읽은횟수 </font></th><td>   1</td>", {}},
    {"post past every defence", 5, "SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=New&b=a%0D%0Ab&token=TOKEN&website=",
     "<caption>", {}, true},
    {"batch erase", 5, "gesipan", "", "", "erased 3 of 5 messages", {"erase", "1", "2", "4-5"}},
    {"batch erase from the start", 5, "gesipan", "", "", "erased 2 of 5 messages", {"erase", "1", "1-2"}},
    {"batch erase by word of all", 5, "gesipan", "", "", "erased 5 of 5 messages", {"erase", "1", "--word", "writer"}},
};

const char kSecret[] = "5c1d0e2f3a4b6c7d8e9f0a1b2c3d4e5f";

// Calls a failure is injected into; every call is a kill point.
const std::set<std::string> kFailingCalls = {"read",      "write",      "openat", "close", "rename",   "unlink",
                                             "fcntl",     "pread64",    "pwrite64", "ftruncate", "newfstatat", "fstat",
                                             "fdatasync", "fsync"};

std::string programDir() { return PLAIN_PROGRAM_DIR; }

class Board {
public:
    explicit Board(int messages, bool defences = false) : defences(defences) {
        site.writeStandardConfig();
        dir = site.boardDir(1);
        if (defences) {
            // Their records beside the boards change first; the board must not care.
            ::mkdir((site.bbsDir() + "throttle").c_str(), 0700);
            writeFile(site.root() + "/form.key", std::string(kSecret) + "\n");
            site.writeConfig(readFile(site.cgiBin() + "/GuestBook.conf") + "FORM_TOKEN " + site.root() +
                             "/form.key 3\nHONEYPOT on\nLINK_LIMIT 3\nPOST_LIMIT 5 600\nDUPLICATE_CHECK 86400\n");
        }
        if (messages == 0) return;
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(messages, 1));
        for (int n = 1; n <= messages; ++n) site.writeBoardFile(1, bodyName(n), "body " + std::to_string(n));
    }
    static std::string bodyName(int n) { return "guestbook" + std::to_string(n) + ".html"; }

    CgiResult run(const std::string& program, const std::string& query, const std::string& body,
                  const std::vector<std::string>& launcher = {}) {
        CgiRequest request;
        request.query = query;
        request.body = body;
        if (defences && program == "SavePage") request.body += "&token=" + nextToken() + "&website=";
        std::size_t token = request.body.find("TOKEN");
        if (token != std::string::npos) request.body.replace(token, 5, opToken);
        request.env["REMOTE_HOST"] = "client.example";
        request.launcher = launcher;
        request.programDir = programDir();
        return runCgi(program, site.cgiBin(), request);
    }
    CgiResult run(const Operation& op, const std::vector<std::string>& launcher = {}) {
        if (op.args.empty()) {
            // The operation's body carries its own token.
            bool all = defences;
            defences = false;
            CgiResult result = run(op.program, op.query, op.body, launcher);
            defences = all;
            return result;
        }
        CgiRequest request;
        request.args = {"--conf", "GuestBook.conf"};
        request.args.insert(request.args.end(), op.args.begin(), op.args.end());
        request.mergeStderr = true;
        request.launcher = launcher;
        request.programDir = programDir();
        return runCgi(op.program, site.cgiBin(), request);
    }
    // The listing's rows without their dates: what a reader sees.
    std::string listing() {
        std::string page = run("ListPage", "BoardNum=1&TextNum=0", "").output;
        static const std::regex date("<font size=-1>[0-9]{4}[^<]*</font>");
        return std::regex_replace(page, date, "<font size=-1>D</font>");
    }

    // A token served ten seconds ago, another one each time.
    std::string nextToken() {
        char nonce[17];
        std::snprintf(nonce, sizeof nonce, "%016x", ++tokens);
        return makeFormToken(kSecret, 1, std::time(nullptr) - 10, nonce);
    }

    ScratchSite site;
    std::string dir;
    bool defences;
    int tokens = 0;
    // The operation's own token: the same in every run, each on a fresh site.
    std::string opToken = makeFormToken(kSecret, 1, std::time(nullptr) - 10, "ffffffffffffffff");
};

struct Call {
    std::string name;
    int occurrence;
};

// The system calls of one clean run, in order, each with its count so far.
std::vector<Call> callsOf(const Operation& op) {
    Board board(op.messages, op.defences);
    std::string trace = board.site.root() + "/trace";
    board.run(op, {"/usr/bin/strace", "-qq", "-o", trace});
    std::vector<Call> calls;
    std::map<std::string, int> seen;
    std::string text = readFile(trace);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        std::size_t paren = line.find('(');
        if (paren == std::string::npos || paren == 0 || line[0] == '+' || line[0] == '-') continue;
        std::string name = line.substr(0, paren);
        if (name == "execve" || name == "exit_group") continue;
        calls.push_back({name, ++seen[name]});
    }
    return calls;
}

struct Outcome {
    BoardSnapshot board;
    std::string listing;
};

Outcome outcomeOf(const Operation& op, bool applied) {
    Board board(op.messages, op.defences);
    if (applied) {
        EXPECT_NE(board.run(op).output.find(op.doneMarker), std::string::npos) << op.name;
    }
    return {snapshotBoard(board.dir), board.listing()};
}

class CrashHarness : public ::testing::TestWithParam<Operation> {
protected:
    // Runs the operation with one injection and checks everything after it.
    void inject(const Operation& op, const std::string& injection) {
        SCOPED_TRACE(op.name + " with " + injection);
        Board board(op.messages, op.defences);
        CgiResult result = board.run(op, {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e", "inject=" + injection});
        const bool claimsDone = result.output.find(op.doneMarker) != std::string::npos;
        // The run gave its answer: a page, or the tool's line that it changed nothing.
        const bool printed = op.args.empty() ? result.output.find("Content-type: text/html") == 0
                                             : result.output.find(kToolChangedNothing) != std::string::npos;
        ++runs;

        // What the page says holds at once, before any recovery: scratch
        // files aside (the next lock removes them), the board is as the page
        // says. A page goes out once its change is committed and the steps
        // follow it: with the redo record still there (killed in between),
        // the change is the record, which every reader carries out first;
        // the listing below must show it.
        BoardSnapshot atOnce = snapshotBoard(board.dir);
        for (const char* scratch : {"guestbook.new", "tmp.dat", "guestbook.redo.new"}) atOnce.erase(scratch);
        if (claimsDone) {
            if (!atOnce.count("guestbook.redo")) {
                EXPECT_EQ(snapshotDifference(atOnce, after.board), "") << "at once";
            }
        } else if (printed) {
            EXPECT_EQ(snapshotDifference(atOnce, before.board), "") << "at once";
        }

        // The next reader, then the next change (a denied erase still takes
        // the exclusive lock), meet the board as before or as after.
        std::string listing = board.listing();
        EXPECT_EQ(board.run("DropPage", "BoardNum=1&TextNum=1", "password=wrong").status, 0);
        BoardSnapshot now = snapshotBoard(board.dir);
        bool isBefore = snapshotDifference(now, before.board).empty();
        bool isAfter = snapshotDifference(now, after.board).empty();
        if (claimsDone) {
            EXPECT_TRUE(isAfter) << "claimed done, but " << snapshotDifference(now, after.board);
            EXPECT_EQ(listing, after.listing);
        } else if (printed) {
            EXPECT_TRUE(isBefore) << "claimed nothing, but " << snapshotDifference(now, before.board);
            EXPECT_EQ(listing, before.listing);
        } else {
            EXPECT_TRUE(isBefore || isAfter) << "half done: " << snapshotDifference(now, before.board);
            EXPECT_TRUE(listing == before.listing || listing == after.listing);
        }
        EXPECT_EQ(boardProblems(board.dir), "");

        // The board goes on working.
        EXPECT_NE(board.run("SavePage", "BoardNum=1&TextNum=-1", "n=N&e=&h=&s=Next&b=x").output.find("<caption>"),
                  std::string::npos);
        EXPECT_NE(board.run("SavePage", "BoardNum=1&TextNum=1", "n=N&e=&h=&s=S&b=y&password=secret")
                      .output.find("<caption>"),
                  std::string::npos);
        EXPECT_NE(board.run("ShowPage", "BoardNum=1&TextNum=1", "").output.find("<caption>"), std::string::npos);
        EXPECT_NE(board.run("DropPage", "BoardNum=1&TextNum=1", "password=secret").output.find("Successfully removed."),
                  std::string::npos);
        EXPECT_EQ(boardProblems(board.dir), "");
    }

    void SetUp() override {
        before = outcomeOf(GetParam(), false);
        after = outcomeOf(GetParam(), true);
    }
    void TearDown() override {
        std::printf("%s: %d injected runs\n", GetParam().name.c_str(), runs);
    }

    Outcome before;
    Outcome after;
    int runs = 0;
};

TEST_P(CrashHarness, KilledAtEverySystemCall) {
    const Operation& op = GetParam();
    std::vector<Call> calls = callsOf(op);
    ASSERT_GT(calls.size(), 10u);
    for (const Call& call : calls) {
        inject(op, call.name + ":signal=KILL:when=" + std::to_string(call.occurrence));
        if (HasFatalFailure()) return;
    }
}

TEST_P(CrashHarness, FailureAtEveryFileCall) {
    const Operation& op = GetParam();
    for (const Call& call : callsOf(op)) {
        if (!kFailingCalls.count(call.name)) continue;
        for (const char* error : {"ENOSPC", "EIO"}) {
            inject(op, call.name + ":error=" + error + ":when=" + std::to_string(call.occurrence));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryChange, CrashHarness, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) c = c == ' ' ? '_' : c;
                             return name;
                         });

}  // namespace
