// The lines for phones, addresses, feeds and the front page, run as CGI
// processes: each changes only what it names, and only its page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

const std::string kStandardLines = "BASE_DIR /bbs/\nEMAIL admin@example.org\nPassword secret\n1 title1.gif\n2 title2.gif\n";

class LinesRun : public ::testing::Test {
protected:
    void configure(const std::string& lines) {
        site.writeConfig("BBS_DIR " + site.bbsDir() + "\n" + kStandardLines + lines);
    }
    CgiResult run(const std::string& program, const std::string& query, CgiRequest request = {}) {
        request.query = query;
        return runCgi(program, site.cgiBin(), request);
    }
    // Board 1 of `count` messages ("Subject n", body "body n"), message 1
    // posted from `host`.
    std::string writeBoard(int count, const std::string& host = "host.example") {
        std::string index = headerBytes(count, count, 1);
        for (int n = 1; n <= count; ++n) {
            TestRecord record;
            record.textNum = n;
            record.subject = "Subject " + std::to_string(n);
            record.name = "Writer " + std::to_string(n);
            record.remoteHost = n == 1 ? host : "host.example";
            index += recordBytes(record);
            site.writeBoardFile(1, record.fileName.empty() ? "guestbook" + std::to_string(n) + ".html" : record.fileName,
                                "body " + std::to_string(n));
        }
        site.writeBoardFile(1, "guestbook.dat", index);
        return index;
    }
    std::string headersOf(const CgiResult& result) { return result.output.substr(0, result.output.find("\n\n") + 2); }
    std::string header(const CgiResult& result, const std::string& name) {
        const std::string head = "\n" + headersOf(result);
        std::size_t at = head.find("\n" + name + ": ");
        if (at == std::string::npos) return "";
        at += name.size() + 3;
        return head.substr(at, head.find('\n', at) - at);
    }
    ScratchSite site;
};

}  // namespace

TEST_F(LinesRun, TheMessagePageShowsTheAddressAsTheLineSaysAndTheBoardKeepsItWhole) {
    struct Case {
        const char* line;
        const char* host;
        const char* cell;
    };
    const std::vector<Case> cases = {
        {"", "203.0.113.7", "<td><a href=http://203.0.113.7><font size=-1>203.0.113.7</font></a></td>"},
        {"ADDRESS_SHOWN whole\n", "203.0.113.7", "<td><a href=http://203.0.113.7><font size=-1>203.0.113.7</font></a></td>"},
        {"ADDRESS_SHOWN masked\n", "203.0.113.7", "<td><font size=-1>203.0.*.*</font></td>"},
        {"ADDRESS_SHOWN masked\n", "2001:db8:5:6::7", "<td><font size=-1>2001:db8:*</font></td>"},
        {"ADDRESS_SHOWN masked\n", "::ffff:198.51.100.9", "<td><font size=-1>198.51.*.*</font></td>"},
        {"ADDRESS_SHOWN masked\n", "dsl-7.pool.example.net", "<td><font size=-1>*.example.net</font></td>"},
        {"ADDRESS_SHOWN masked\n", "localhost", "<td><font size=-1>*</font></td>"},
        {"ADDRESS_SHOWN masked\n", "<b>x.y.z", "<td><font size=-1>*.y.z</font></td>"},
        {"ADDRESS_SHOWN hidden\n", "203.0.113.7", "<td><font size=-1></font></td>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + c.host);
        configure(c.line);
        writeBoard(1, c.host);
        const std::string page = pageOf(run("ShowPage", "BoardNum=1&TextNum=1"));
        EXPECT_NE(page.find(std::string("<th><font size=-1>URL</font></th>") + c.cell + "</tr>\n"), std::string::npos)
            << page;
        EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 125 + 260, 50), c.host);
    }
    // A mistyped word is refused rather than read as one of the three.
    configure("ADDRESS_SHOWN mask\n");
    EXPECT_NE(pageOf(run("ShowPage", "BoardNum=1&TextNum=1")).find("is not understood!!!"), std::string::npos);
    // A post shows its own page masked too, and stores the whole address.
    configure("ADDRESS_SHOWN masked\n");
    CgiRequest post;
    post.body = "name=Kim&email=&homepage=&subject=Hi&body=Hello";
    post.env["REMOTE_ADDR"] = "203.0.113.8";
    post.env["REQUEST_METHOD"] = "POST";
    const std::string saved = pageOf(run("SavePage", "BoardNum=1&TextNum=-1", post));
    EXPECT_NE(saved.find("<td><font size=-1>203.0.*.*</font></td>"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("203.0.113.8"), std::string::npos);
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 125 + 410 + 260, 50), "203.0.113.8");
}

TEST_F(LinesRun, PhonePagesAddTheViewportAndStylesheetToEveryPageAndAskForTheFirstMessage) {
    const std::string head = "<head><title>게시판 버전 %s</title><meta name=viewport content=\"width=device-width, "
                             "initial-scale=1\"><link rel=stylesheet href=/bbs/Image/gesipan.css></head>\n";
    auto headOf = [&](const char* version) {
        std::string text = head;
        return text.replace(text.find("%s"), 2, version);
    };
    struct Case {
        const char* program;
        const char* query;
        const char* version;
    };
    const std::vector<Case> cases = {
        {"ListPage", "BoardNum=1&TextNum=0", "2.13"}, {"ListPage", "BoardNum=2&TextNum=0", "2.13"},
        {"ShowPage", "BoardNum=1&TextNum=1", "2.13"}, {"ShowPage", "BoardNum=1&TextNum=9", "2.13"},
        {"FormPage", "BoardNum=1&TextNum=-1", "2.13"},
    };
    configure("PHONE_PAGES on\n");
    writeBoard(2);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + "?" + c.query);
        const std::string page = pageOf(run(c.program, c.query));
        EXPECT_EQ(page.compare(0, 7, "<html>\n"), 0);
        EXPECT_EQ(page.compare(7, headOf(c.version).size(), headOf(c.version)), 0) << page.substr(0, 300);
    }
    const std::string empty = pageOf(run("ListPage", "BoardNum=2&TextNum=0"));
    EXPECT_NE(empty.find("아직 글이 없습니다. 첫 글을 남겨 주세요."), std::string::npos);
    EXPECT_EQ(empty.find("There is no data file"), std::string::npos);
    EXPECT_NE(empty.find("FormPage.exe?BoardNum=2&TextNum=-1><img src=/bbs/Image/posting.gif"), std::string::npos);
    // The edit form, behind its password.
    CgiRequest edit;
    edit.body = "password=secret";
    edit.env["REQUEST_METHOD"] = "POST";
    const std::string form = pageOf(run("EditPage", "BoardNum=1&TextNum=1", edit));
    EXPECT_EQ(form.compare(7, headOf("2.11").size(), headOf("2.11")), 0) << form.substr(0, 300);
}

TEST_F(LinesRun, TheFeedLineLinksTheFeedFromTheListingsHeadOnly) {
    configure("FEED on\n");
    writeBoard(1);
    const std::string link = "<link rel=alternate type=application/atom+xml href=/bbs/cgi-bin/FeedPage.exe?BoardNum=1>";
    EXPECT_NE(pageOf(run("ListPage", "BoardNum=1&TextNum=0")).find("<title>게시판 버전 2.13</title>" + link + "</head>\n"),
              std::string::npos);
    EXPECT_EQ(pageOf(run("ShowPage", "BoardNum=1&TextNum=1")).find("application/atom+xml"), std::string::npos);
}

TEST_F(LinesRun, TheFeedHoldsTheNewestTwentyWithDatesInTheSitesZoneAndCountsNoReading) {
    configure("FEED on\nTITLE 1 첫 게시판\n");
    const std::string index = writeBoard(25);
    CgiRequest request;
    request.env["TZ"] = "Asia/Seoul";
    CgiResult result = run("FeedPage", "BoardNum=1", request);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(header(result, "Content-type"), "application/atom+xml; charset=utf-8");
    const std::string feed = result.output.substr(headersOf(result).size());
    std::size_t entries = 0;
    for (std::size_t at = feed.find("<entry>"); at != std::string::npos; at = feed.find("<entry>", at + 1)) ++entries;
    EXPECT_EQ(entries, 20u);
    // Newest first, down to message 6; the dates as stored, in Seoul.
    EXPECT_LT(feed.find("Subject 25<"), feed.find("Subject 24<"));
    EXPECT_NE(feed.find("Subject 6<"), std::string::npos);
    EXPECT_EQ(feed.find("Subject 5<"), std::string::npos);
    EXPECT_NE(feed.find("<updated>1997-03-05T14:05:00+09:00</updated>"), std::string::npos);
    EXPECT_NE(feed.find("href=\"/bbs/cgi-bin/ShowPage.exe?BoardNum=1&amp;TextNum=25\""), std::string::npos);
    EXPECT_NE(feed.find("<author><name>Writer 25</name></author>"), std::string::npos);
    // The title as the owner wrote it, in UTF-8.
    EXPECT_NE(feed.find(u8"<title>\uccab \uac8c\uc2dc\ud310</title>"), std::string::npos);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat"), index);
}

TEST_F(LinesRun, TheFeedAnswersNotModifiedToItsOwnValidators) {
    configure("FEED on\n");
    writeBoard(3);
    CgiResult first = run("FeedPage", "BoardNum=1");
    const std::string etag = header(first, "ETag");
    const std::string modified = header(first, "Last-Modified");
    ASSERT_EQ(etag.size(), 34u);
    ASSERT_FALSE(modified.empty());
    struct Case {
        const char* name;
        std::string value;
        bool unchanged;
    };
    const std::vector<Case> cases = {
        {"HTTP_IF_NONE_MATCH", etag, true},
        {"HTTP_IF_NONE_MATCH", "\"other\", W/" + etag, true},
        {"HTTP_IF_NONE_MATCH", "\"other\"", false},
        {"HTTP_IF_MODIFIED_SINCE", modified, true},
        {"HTTP_IF_MODIFIED_SINCE", "Thu, 01 Jan 1998 00:00:00 GMT", false},
        {"HTTP_IF_MODIFIED_SINCE", "yesterday", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.value);
        CgiRequest request;
        request.env[c.name] = c.value;
        CgiResult result = run("FeedPage", "BoardNum=1", request);
        EXPECT_EQ(result.output.compare(0, 25, "Status: 304 Not Modified\n") == 0, c.unchanged);
        EXPECT_EQ(header(result, "ETag"), etag);
        EXPECT_EQ(result.output, c.unchanged ? headersOf(result) : first.output);
    }
    // A new message changes the feed and its tag.
    writeBoard(4);
    CgiRequest again;
    again.env["HTTP_IF_NONE_MATCH"] = etag;
    CgiResult changed = run("FeedPage", "BoardNum=1", again);
    EXPECT_NE(header(changed, "ETag"), etag);
    EXPECT_NE(changed.output.find("Subject 4<"), std::string::npos);
}

TEST_F(LinesRun, OnlyAConfiguredBoardOfASiteWithFeedsHasOne) {
    struct Case {
        const char* lines;
        const char* query;
        bool served;
    };
    const std::vector<Case> cases = {
        {"", "BoardNum=1", false},          {"FEED off\n", "BoardNum=1", false}, {"FEED on\n", "BoardNum=9", false},
        {"FEED on\n", "BoardNum=-1", false}, {"FEED on\n", "BoardNum=2", true},  {"FEED on\n", "BoardNum=1", true},
    };
    writeBoard(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lines) + c.query);
        configure(c.lines);
        CgiResult result = run("FeedPage", c.query);
        EXPECT_EQ(result.output.compare(0, 22, "Status: 404 Not Found\n") != 0, c.served) << result.output;
    }
}

TEST_F(LinesRun, TheFrontPageListsTheBoardsByTitleWithTheirCounts) {
    configure("");
    writeBoard(3);
    CgiResult closed = run("FrontPage", "");
    EXPECT_EQ(closed.output.compare(0, 22, "Status: 403 Forbidden\n"), 0);
    configure("TITLE 1 <첫> 게시판\nTITLE 7 no board line\nFEED on\n");
    CgiResult open = run("FrontPage", "");
    EXPECT_EQ(open.status, 0);
    const std::string page = open.output;
    EXPECT_EQ(page.compare(0, 40, "Content-type: text/html; charset=utf-8\n\n"), 0);
    EXPECT_NE(page.find(u8"<a href=/bbs/cgi-bin/ListPage.exe?BoardNum=1&amp;TextNum=0>&lt;\uccab&gt; \uac8c\uc2dc\ud310</a>"
                        u8"</td><td>\uae00 3\uac1c</td>"),
              std::string::npos)
        << page;
    // A board without a title by its number, with no messages yet.
    EXPECT_NE(page.find(u8">\uac8c\uc2dc\ud310 2</a></td><td>\uae00 0\uac1c</td>"), std::string::npos);
    EXPECT_NE(page.find("<a href=/bbs/cgi-bin/FeedPage.exe?BoardNum=2 type=application/atom+xml>"), std::string::npos);
    EXPECT_EQ(page.find("no board line"), std::string::npos);
}
