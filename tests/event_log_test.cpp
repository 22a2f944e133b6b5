// The owner's event log and the honest status codes: each behind its own
// line of GuestBook.conf, each kind of event made once and shown by
// `gesipan events`; lines written whole by many writers at once; a log that
// cannot be written stops no post.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "events/event_log.h"
#include "scratch_site.h"

namespace {

std::string postForm(const std::string& body, const std::string& extra = "") {
    return "name=n&email=&homepage=&subject=s&body=" + body + extra;
}

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        writeConfig("EVENT_LOG ../events.log\nSTATUS_CODES on\n");
        // Where the guessing limit counts, and the boards; the site command makes them.
        ::mkdir((site.bbsDir() + "throttle").c_str(), 0755);
        site.boardDir(1);
        site.boardDir(2);
    }
    void writeConfig(const std::string& lines) {
        site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword secret\n" +
                         "LINK_LIMIT 1\nHONEYPOT on\nPOST_LIMIT 5 600\n" + lines + "1 t.gif\n2 t.gif\n");
    }
    CgiResult run(const std::string& program, const std::string& query, const std::string& body = "",
                  const std::string& contentLength = "") {
        CgiRequest request;
        request.query = query;
        request.body = body;
        request.contentLength = contentLength;
        request.env["REMOTE_ADDR"] = "203.0.113.7";
        return runCgi(program, site.cgiBin(), request);
    }
    std::vector<Event> events() {
        std::vector<Event> all;
        std::string text = fileExists(logPath()) ? readFile(logPath()) : "";
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            Event event;
            EXPECT_TRUE(parseEventLine(text.substr(at, end - at), &event)) << text.substr(at, end - at);
            all.push_back(event);
        }
        return all;
    }
    std::string logPath() { return site.root() + "/events.log"; }
    ScratchSite site;
};

// "Status: 404 Not Found" or "" (200), as the program printed it.
std::string statusOf(const CgiResult& result) {
    if (result.output.compare(0, 8, "Status: ") != 0) return "";
    return result.output.substr(8, result.output.find('\n') - 8);
}

}  // namespace

TEST_F(Events, EveryKindIsLoggedAndAnsweredWithItsStatus) {
    struct Case {
        const char* what;
        const char* program;
        std::string query;
        std::string body;
        std::string status;  // "" for 200
        std::string event;   // the event it adds, "" for none
        std::string detail;
    };
    const std::string tooLong = "name=n&body=" + std::string(600 * 1024, 'x');
    const Case cases[] = {
        {"an empty board's view", "ShowPage", "BoardNum=1&TextNum=1", "", "404 Not Found", "", ""},
        {"a post", "SavePage", "BoardNum=1&TextNum=-1", postForm("hello"), "", "post", ""},
        {"an edit", "SavePage", "BoardNum=1&TextNum=1", postForm("again", "&password=secret"), "", "edit", ""},
        {"a wrong password", "EditPage", "BoardNum=1&TextNum=1", "password=wrong", "403 Forbidden", "wrong_password", ""},
        {"a link too many", "SavePage", "BoardNum=1&TextNum=-1", postForm("http://a.example http://b.example"),
         "403 Forbidden", "refused", "link_limit"},
        {"the honeypot", "SavePage", "BoardNum=1&TextNum=-1", postForm("hi", "&website=x"), "403 Forbidden", "refused",
         "honeypot"},
        {"missing fields", "SavePage", "BoardNum=1&TextNum=-1", "name=n", "400 Bad Request", "", ""},
        {"a body too long", "SavePage", "BoardNum=1&TextNum=-1", tooLong, "413 Content Too Large", "", ""},
        {"no such message", "ShowPage", "BoardNum=1&TextNum=9", "", "404 Not Found", "", ""},
        {"an erase", "DropPage", "BoardNum=1&TextNum=1", "password=secret", "", "erase", ""},
    };
    std::size_t logged = 0;
    for (const Case& c : cases) {
        CgiResult result = run(c.program, c.query, c.body);
        EXPECT_EQ(statusOf(result), c.status) << c.what;
        std::vector<Event> all = events();
        ASSERT_EQ(all.size(), logged + (c.event.empty() ? 0 : 1)) << c.what;
        if (c.event.empty()) continue;
        const Event& event = all.back();
        EXPECT_EQ(event.kind, c.event) << c.what;
        EXPECT_EQ(event.detail, c.detail) << c.what;
        EXPECT_EQ(event.board, 1) << c.what;
        EXPECT_EQ(event.address, "203.0.113.7") << c.what;
        ++logged;
    }
    // The empty board's line names no server directory.
    EXPECT_EQ(run("ShowPage", "BoardNum=2&TextNum=1").output,
              "Status: 404 Not Found\nContent-type: text/html\n\nCan't open guestbook.dat.");
    // Ten wrong guesses shut the address out: 429, and the lockout logged.
    for (int k = 0; k < 10; ++k) run("DropPage", "BoardNum=1&TextNum=1", "password=wrong");
    EXPECT_EQ(statusOf(run("DropPage", "BoardNum=1&TextNum=1", "password=secret")), "429 Too Many Requests");
    EXPECT_EQ(events().back().kind, "locked_out");
    // A damaged index noticed by a post.
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(2, 1).substr(0, 125 + 410 + 100));
    EXPECT_EQ(statusOf(run("SavePage", "BoardNum=1&TextNum=-1", postForm("x"))), "500 Internal Server Error");
    EXPECT_EQ(events().back().kind, "damaged");

    // A defence's record found damaged.
    writeFile(site.bbsDir() + "throttle/posting.count", "not a record\n");
    run("SavePage", "BoardNum=2&TextNum=-1", postForm("y"));
    EXPECT_EQ(events()[events().size() - 2].kind, "defence_off");
    EXPECT_NE(events()[events().size() - 2].detail.find("posting.count: damaged"), std::string::npos);
    EXPECT_EQ(events().back().kind, "post");

    // The owner's erase, and the table that shows them all.
    ToolResult erased = runTool(site, "erase 2 1");
    EXPECT_EQ(erased.status, 0) << erased.err;
    EXPECT_EQ(events().back().kind, "erase");
    EXPECT_EQ(events().back().address, "gesipan");
    ToolResult table = runTool(site, "events");
    EXPECT_EQ(table.status, 0) << table.err;
    for (const char* kind : {"post", "edit", "wrong_password", "refused", "erase", "locked_out", "damaged", "defence_off"}) {
        EXPECT_NE(table.out.find(kind), std::string::npos) << kind << "\n" << table.out;
    }
    EXPECT_NE(table.out.find("link_limit"), std::string::npos);
    std::string board2;
    for (const Event& event : events()) board2 += event.board == 2 ? eventLine(event) : "";
    EXPECT_EQ(runTool(site, "events --board 2 --json").out, board2);
    EXPECT_EQ(runTool(site, "events --since 1h").out, table.out);
    ToolResult later = runTool(site, "events --since 2999-01-01");
    EXPECT_EQ(later.out.find('\n'), later.out.size() - 1) << "the heading alone";
    EXPECT_EQ(runTool(site, "events --since yesterday").status, 2);
}

TEST_F(Events, WithoutTheLinesNothingIsWrittenAndEveryAnswerIs200) {
    writeConfig("");
    EXPECT_EQ(statusOf(run("ShowPage", "BoardNum=1&TextNum=1")), "");
    EXPECT_EQ(run("ShowPage", "BoardNum=1&TextNum=1").output,
              "Content-type: text/html\n\nCan't open " + site.bbsDir() + "1/guestbook.dat.");
    run("SavePage", "BoardNum=1&TextNum=-1", postForm("hello"));
    run("EditPage", "BoardNum=1&TextNum=1", "password=wrong");
    EXPECT_FALSE(fileExists(logPath()));
}

TEST_F(Events, ALogThatCannotBeWrittenStopsNoPost) {
    writeConfig("EVENT_LOG ../no/such/dir/events.log\n");
    CgiRequest request;
    request.query = "BoardNum=1&TextNum=-1";
    request.body = postForm("hello");
    CgiResult result = runCgi("SavePage", site.cgiBin(), request);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.output.find("hello"), std::string::npos);
    EXPECT_TRUE(site.boardFileExists(1, "guestbook1.html"));
}

TEST(EventLog, ManyWritersNeverInterleave) {
    ScratchSite site;
    const std::string path = site.root() + "/events.log";
    constexpr int kWriters = 8;
    constexpr int kEach = 200;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = ::fork();
        if (child == 0) {
            for (int k = 0; k < kEach; ++k) {
                Event event{1700000000 + k, "post", w, k + 1, std::string(300, 'a' + w), "\x1b[2J\xb0\xa1"};
                logEvent(path, event);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    const std::string text = readFile(path);
    int lines = 0;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        Event event;
        ASSERT_TRUE(parseEventLine(text.substr(at, end - at), &event)) << lines;
        EXPECT_EQ(event.address, std::string(300, 'a' + event.board));
        EXPECT_EQ(event.detail, "\x1b[2J\xb0\xa1") << "every byte comes back";
    }
    EXPECT_EQ(lines, kWriters * kEach);
}

TEST(SiteConfiguration, ALineWithWordsItDoesNotTakeIsRefusedByPagesAndTool) {
    ScratchSite site;
    for (const char* line : {"HONEYPOT on   spam out", "LINK_LIMIT 3 links", "POST_LIMIT 5", "DUPLICATE_CHECK a day",
                             "STATUS_CODES yes", "BAN_LIST ../secret/ban.list # words"}) {
        site.writeConfig(std::string("BBS_DIR ") + site.bbsDir() + "\n" + line + "\n1 t.gif\n");
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=0";
        CgiResult page = runCgi("ListPage", site.cgiBin(), request);
        EXPECT_EQ(page.status, 1) << line;
        EXPECT_NE(page.output.find("'GuestBook.conf', line 2, is not understood!!!"), std::string::npos) << line;
        ToolResult check = runTool(site, "check");
        EXPECT_EQ(check.status, 1) << line;
        // The line as the reader took it: runs of blanks folded to one.
        const std::string key = std::string(line).substr(0, std::string(line).find(' '));
        EXPECT_NE(check.err.find("line 2: " + key + " "), std::string::npos) << check.err;
    }
}
