// ShowPage run as a CGI process: the whole message page, its navigation,
// the read count written back and nothing else, and the failure pages.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <string>
#include <tuple>
#include <vector>

#include "board_files.h"
#include "store/board_lock.h"
#include "cgi_runner.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

constexpr std::size_t kReadCountOffset = 105;

std::size_t recordStart(int n) { return 125 + static_cast<std::size_t>(n - 1) * 410; }

// `bytes` with the ReadCount field of record n holding `text` and zero filler.
std::string withReadCount(std::string bytes, int n, const std::string& text) {
    bytes.replace(recordStart(n) + kReadCountOffset, 10, text + std::string(10 - text.size(), '\0'));
    return bytes;
}

std::string navigation(int board, int t, int n) {
    std::string b = std::to_string(board);
    std::string nav;
    if (n >= t + 1) nav += "<a href=/bbs/cgi-bin/ShowPage.exe?BoardNum=" + b + "&TextNum=" + std::to_string(t + 1) + ">";
    nav += "<img src=/bbs/Image/prev.gif border=0 align=middle>\n";
    if (n >= t + 1) nav += "</a>\n";
    nav += "<a href=/bbs/cgi-bin/ListPage.exe?BoardNum=" + b + "&TextNum=0>";
    nav += "<img src=/bbs/Image/up.gif border=0 align=center></a>\n";
    if (t != 1) nav += "<a href=/bbs/cgi-bin/ShowPage.exe?BoardNum=" + b + "&TextNum=" + std::to_string(t - 1) + ">";
    nav += "<img src=/bbs/Image/next.gif border=0 align=middle>\n";
    if (t != 1) nav += "</a>\n";
    return nav;
}

std::string messagePage(int board, int n, const TestRecord& r, const std::string& shownCount, const std::string& body,
                        const std::string& adminEmail) {
    std::string b = std::to_string(board);
    std::string t = std::to_string(r.textNum);
    std::string paddedNum = std::string(t.size() < 4 ? 4 - t.size() : 0, ' ') + t;
    return "<html>\n"
           "<head><title>게시판 버전 2.13</title></head>\n"
           "<body bgcolor=white>\n"
           "<center>\n"
           "<table border=0><caption><b><font size=-1>" + r.subject + "</font></b></caption>\n"
           "<tr><th>  </th></tr>\n"
           "<tr><th>  </th></tr>\n"
           "<tr><th><font size=-1> 글번호 </font></th><td>" + paddedNum +
           "</td><th><font size=-1> 읽은횟수 </font></th><td>" + shownCount + "</td></tr>\n"
           "<tr><th><font size=-1>글쓴이</font></th><td><font size=-1>" + r.name +
           "</font></td><th><font size=-1>글쓴날짜</font></th><td><font size=-1>" + r.date + " " + r.time +
           "</font></td></tr>\n"
           "<tr><th><font size=-1>E-mail</font></th><td><a href=mailto:" + r.email + "><font size=-1>" + r.email +
           "</font></a></td>"
           "<th><font size=-1>URL</font></th><td><a href=http://" + r.remoteHost + "><font size=-1>" + r.remoteHost +
           "</font></a></td></tr>\n"
           "<tr><th><font size=-1>Homepage</font></th><td><a href=" + r.homepage + "><font size=-1>" + r.homepage +
           "</font></a></td>\n"
           "<th><font size=-1> 줄수 </font></th><td><font size=-1>" + r.lineCount + "</font></td></th></tr>\n"
           "</table>\n"
           "<img width=420 src=/bbs/Image/blue_line.gif>\n"
           "<br><br>\n"
           "<table border=0>\n"
           "<tr><td><font size=-1>\n" +
           body +
           "</font></table>\n"
           "<br><br>\n" +
           navigation(board, r.textNum, n) +
           "<br><br>\n"
           "<table>\n"
           "<font size=-1>\n"
           "<td><form OnSubmit=\"return confirm('확실히 지우시겠습니까?')\" method=post "
           "action=/bbs/cgi-bin/DropPage.exe?BoardNum=" + b + "&TextNum=" + t + ">\n"
           "<font size=-1>Password:</font> <input type=password size=10 maxlength=10 name=password>\n"
           "<input type=submit value=\"글지우기\"></form></td>\n"
           "<td><form OnSubmit=\"return confirm('확실히 수정하시겠습니까?')\" method=post "
           "action=/bbs/cgi-bin/EditPage.exe?BoardNum=" + b + "&TextNum=" + t + ">\n"
           "<input type=submit value=\"수정하기\">\n"
           "<input type=password size=10 maxlength=10 name=password> <font size=-1>:Password</font></form>\n"
           "</font></td>\n"
           "</table>\n"
           "<img src=/bbs/Image/line.gif width=500 border=0><br>\n" +
           creditBlock() +
           "<a href=mailto:" + adminEmail + ">" + adminEmail + "</a></br>\n"
           "</font>\n"
           "</center>\n"
           "</body>\n"
           "</html>\n";
}

std::string notFoundPage(const std::string& path) {
    return "<html>\n<body>\n" + path + " is not found!!!\n</body>\n</html>\n";
}

std::string noMessagePage(int board, int textNum) {
    return errorPage("/bbs/", board,
                     "<font color=228b22 size=3>There is no message " + std::to_string(textNum) +
                         " on this board!!!</font><br>",
                     "admin@example.org");
}

class ShowPageRun : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }
    CgiResult run(const std::string& query) {
        CgiRequest request;
        request.query = query;
        return runCgi("ShowPage", site.cgiBin(), request);
    }
    // A board of `count` messages with body files, as indexOfMessages names them.
    std::string writeBoard(int board, int count) {
        std::string index = indexOfMessages(count, board);
        site.writeBoardFile(board, "guestbook.dat", index);
        for (int n = 1; n <= count; ++n)
            site.writeBoardFile(board, "guestbook" + std::to_string(n) + ".html", "body " + std::to_string(n));
        return index;
    }
    std::string index(int board) { return site.readBoardFile(board, "guestbook.dat"); }
    ScratchSite site;
};

}  // namespace

TEST_F(ShowPageRun, ShowsMessageTwoOfThreeAndCountsTheReading) {
    TestRecord first;
    first.textNum = 1;
    TestRecord second;
    second.textNum = 2;
    second.name = "김영희";
    second.email = "kim@example.org";
    second.homepage = "http://home.example/";
    second.remoteHost = "pc1.example.net";
    second.subject = "둘째 글";
    second.readCount = "   4";
    second.lineCount = "2";
    TestRecord third;
    third.textNum = 3;
    const std::string before = headerBytes(3, 3, 1) + recordBytes(first) + recordBytes(second) + recordBytes(third);
    site.writeBoardFile(1, "guestbook.dat", before);
    const std::string body = "첫 줄<br>\n둘째 줄";
    site.writeBoardFile(1, "guestbook2.html", body);

    CgiResult result = run("BoardNum=1&TextNum=2");
    EXPECT_EQ(result.status, 0);
    std::string page = pageOf(result);
    EXPECT_EQ(page, messagePage(1, 3, second, "   5", body, "admin@example.org"));
    // "읽은횟수" and the body's "첫" go out as EUC-KR bytes.
    EXPECT_NE(page.find("\xc0\xd0\xc0\xba\xc8\xbd\xbc\xf6"), std::string::npos);
    EXPECT_NE(page.find("<tr><td><font size=-1>\n\xc3\xb9 "), std::string::npos);
    EXPECT_EQ(index(1), withReadCount(before, 2, "   5"));
    EXPECT_EQ(site.readBoardFile(1, "guestbook2.html"), body);
}

TEST_F(ShowPageRun, NavigationLinksOnlyWhereAMessageLies) {
    writeBoard(1, 1);
    std::string single = pageOf(run("BoardNum=1&TextNum=1"));
    EXPECT_NE(single.find("<br><br>\n" + navigation(1, 1, 1) + "<br><br>\n"), std::string::npos);
    EXPECT_EQ(single.find("ShowPage.exe"), std::string::npos) << "a single message links to no other";

    writeBoard(2, 4);
    std::string oldest = pageOf(run("BoardNum=2&TextNum=1"));
    EXPECT_NE(oldest.find("<a href=/bbs/cgi-bin/ShowPage.exe?BoardNum=2&TextNum=2><img src=/bbs/Image/prev.gif "
                          "border=0 align=middle>\n</a>\n"),
              std::string::npos);
    EXPECT_NE(oldest.find("</a>\n<img src=/bbs/Image/next.gif border=0 align=middle>\n<br><br>\n"), std::string::npos);

    std::string newest = pageOf(run("BoardNum=2&TextNum=4"));
    EXPECT_NE(newest.find("<br><br>\n<img src=/bbs/Image/prev.gif border=0 align=middle>\n<a href="), std::string::npos);
    EXPECT_NE(newest.find("<a href=/bbs/cgi-bin/ShowPage.exe?BoardNum=2&TextNum=3><img src=/bbs/Image/next.gif "
                          "border=0 align=middle>\n</a>\n"),
              std::string::npos);
    EXPECT_NE(newest.find(navigation(2, 4, 4)), std::string::npos);
}

TEST_F(ShowPageRun, ChangesNoByteButThatRecordsReadCount) {
    const std::string fresh = writeBoard(1, 3);
    EXPECT_EQ(run("BoardNum=1&TextNum=3").status, 0);
    EXPECT_EQ(index(1), withReadCount(fresh, 3, "   1"));
    EXPECT_EQ(run("BoardNum=1&TextNum=3").status, 0);
    EXPECT_EQ(index(1), withReadCount(fresh, 3, "   2"));

    struct Case {
        const char* stored;
        const char* written;
    };
    for (Case c : {Case{"9999", "10000"}, Case{"999999999", "999999999"}, Case{"-7", "   1"}, Case{"junk", "   1"},
                   Case{"9999999999", "999999999"}}) {
        // The stored text may fill all ten bytes; the raised count still ends inside the field.
        std::string before = fresh;
        before.replace(recordStart(2) + kReadCountOffset, 10,
                       std::string(c.stored) + std::string(10 - std::string(c.stored).size(), '\0'));
        site.writeBoardFile(1, "guestbook.dat", before);
        CgiResult result = run("BoardNum=1&TextNum=2");
        EXPECT_EQ(result.status, 0) << c.stored;
        EXPECT_EQ(index(1), withReadCount(fresh, 2, c.written)) << c.stored;
        EXPECT_NE(pageOf(result).find(std::string(" 읽은횟수 </font></th><td>") + c.written + "</td>"),
                  std::string::npos)
            << c.stored;
    }
}

TEST_F(ShowPageRun, MissingBodyFileGivesTheFiveLinePageAfterCounting) {
    std::string fresh = headerBytes(2, 2, 1);
    TestRecord named;
    named.textNum = 1;
    TestRecord unnamed;
    unnamed.textNum = 2;
    fresh += recordBytes(named) + recordBytes(unnamed);
    // An empty FileName: the record's field holds nothing but zero bytes.
    fresh.replace(recordStart(2) + 310, 100, std::string(100, '\0'));
    site.writeBoardFile(1, "guestbook.dat", fresh);

    CgiResult result = run("BoardNum=1&TextNum=2");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), notFoundPage(site.boardDir(1) + "nofile"));
    EXPECT_EQ(index(1), withReadCount(fresh, 2, "   1")) << "the reading counts all the same";

    result = run("BoardNum=1&TextNum=1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), notFoundPage(site.boardDir(1) + "guestbook1.html"));
    EXPECT_EQ(index(1), withReadCount(withReadCount(fresh, 2, "   1"), 1, "   1"));
}

TEST_F(ShowPageRun, MissingIndexFileIsABareMessage) {
    CgiResult result = run("BoardNum=1&TextNum=1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "Content-type: text/html\n\nCan't open " + site.boardDir(1) + "guestbook.dat.");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
}

TEST_F(ShowPageRun, TextNumThatNamesNoRecordChangesNothing) {
    const std::string fresh = writeBoard(1, 3);
    for (int t : {0, -1, 4, 1000, -2147483647 - 1, 2147483647}) {
        CgiResult result = run("BoardNum=1&TextNum=" + std::to_string(t));
        EXPECT_EQ(result.status, 1) << t;
        EXPECT_EQ(pageOf(result), noMessagePage(1, t)) << t;
        EXPECT_EQ(index(1), fresh) << t;
    }
    // A slot past the count (left over by an older erase) is no message
    // either; taking the board's lock cuts it off.
    std::string staleSlot = fresh;
    staleSlot.replace(10, 10, std::string("2") + std::string(9, '\0'));
    site.writeBoardFile(1, "guestbook.dat", staleSlot);
    CgiResult stale = run("BoardNum=1&TextNum=3");
    EXPECT_EQ(stale.status, 1);
    EXPECT_EQ(pageOf(stale), noMessagePage(1, 3));
    EXPECT_EQ(index(1), staleSlot.substr(0, recordStart(3)));
    // A count the file does not hold: record 3 lies past its end.
    std::string shortIndex = fresh.substr(0, recordStart(3));
    site.writeBoardFile(1, "guestbook.dat", shortIndex);
    CgiResult result = run("BoardNum=1&TextNum=3");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), noMessagePage(1, 3));
    EXPECT_EQ(index(1), shortIndex);
    // A record cut in the middle is not written back either.
    std::string cutIndex = fresh.substr(0, recordStart(3) + 200);
    site.writeBoardFile(1, "guestbook.dat", cutIndex);
    EXPECT_EQ(run("BoardNum=1&TextNum=3").status, 1);
    EXPECT_EQ(index(1), cutIndex);
}

TEST_F(ShowPageRun, ViewsAtTheSameMomentAreAllCounted) {
    const std::string fresh = writeBoard(1, 3);
    constexpr int kViews = 12;
    std::vector<std::future<CgiResult>> views;
    for (int k = 0; k < kViews; ++k)
        views.push_back(std::async(std::launch::async, [&] { return run("BoardNum=1&TextNum=2"); }));
    for (auto& view : views) EXPECT_EQ(view.get().status, 0);
    EXPECT_EQ(index(1), withReadCount(fresh, 2, "  " + std::to_string(kViews)));
}

TEST_F(ShowPageRun, WaitsWhileAnotherRunHoldsTheBoard) {
    const std::string fresh = writeBoard(1, 2);
    BoardLock reader;
    ASSERT_EQ(reader.acquire(site.boardDir(1).c_str(), LockMode::Shared), 1);
    auto view = std::async(std::launch::async, [&] { return run("BoardNum=1&TextNum=1"); });
    EXPECT_EQ(view.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
    EXPECT_EQ(index(1), fresh) << "the count was written while a reader held the board";
    reader.release();
    EXPECT_EQ(view.get().status, 0);
    EXPECT_EQ(index(1), withReadCount(fresh, 1, "   1"));
}

TEST_F(ShowPageRun, PathsThatDoNotFitAreRefused) {
    const std::string refusal = errorPage(
        "/bbs/", 1, "<font color=228b22 size=3>The board's file path is too long!!!</font><br>", "admin@example.org");
    // The index path: a board directory of 247 bytes and "guestbook.dat".
    std::string longDir = site.bbsDir() + std::string(245 - site.bbsDir().size() - 1, 'd') + "/";
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + longDir + "\nEMAIL admin@example.org\n1 title1.gif\n");
    CgiResult result = run("BoardNum=1&TextNum=1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), refusal);

    // The body path: the index fits, "guestbook1.html" after the same directory does not.
    std::string bbsDir = site.bbsDir();
    while (bbsDir.size() + 2 + 13 < 254) {
        std::size_t room = 254 - (bbsDir.size() + 2 + 13);
        bbsDir += std::string(room > 100 ? 100 : room, 'e') + "/";
        ASSERT_EQ(::mkdir(bbsDir.c_str(), 0755), 0) << bbsDir;
    }
    std::string boardDir = bbsDir + "1/";
    ASSERT_EQ(::mkdir(boardDir.c_str(), 0755), 0);
    ASSERT_LE(boardDir.size() + 13, 255u);
    ASSERT_GT(boardDir.size() + 15, 255u);
    const std::string fresh = indexOfMessages(1, 1);
    writeFile(boardDir + "guestbook.dat", fresh);
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + bbsDir + "\nEMAIL admin@example.org\n1 title1.gif\n");
    result = run("BoardNum=1&TextNum=1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), refusal);
    // The body could not be read, so the reading is not counted.
    EXPECT_EQ(readFile(boardDir + "guestbook.dat"), fresh);
}

TEST_F(ShowPageRun, MissingConfigurationGivesTheErrorPage) {
    site.removeConfig();
    CgiResult result = run("BoardNum=3&TextNum=1");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), errorPage("", 3, kConfigMissing, ""));
}

TEST_F(ShowPageRun, VisitorMarkupStaysInsideItsField) {
    TestRecord r;
    r.textNum = 1;
    r.subject = "<center><h1>title";
    r.name = "<a href=/me>Kim";
    r.email = "<a href=/m>m</a>";
    r.homepage = "</a><b>home";
    site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(r));
    const std::string body = "<div>one</font></table></div><a href=http://x.example/?p=1&q=2>two<pre>three";
    site.writeBoardFile(1, "guestbook1.html", body);

    const std::string page = pageOf(run("BoardNum=1&TextNum=1"));
    TestRecord shown = r;
    shown.subject = "<center><h1>title</h1></center>";
    shown.name = "<a href=/me>Kim</a>";
    shown.email = "@E@";
    shown.homepage = "@H@";
    shown.readCount = "   1";
    std::string expected =
        messagePage(1, 1, shown, "   1",
                    "<div>one&lt;/font>&lt;/table></div><a href=http://x.example/?p=1&q=2>two<pre>three</pre></a>",
                    "admin@example.org");
    // Addresses go into the href encoded, and their texts, printed inside
    // the page's links, show a visitor's link as text.
    for (auto [mark, href, text] : {std::tuple<std::string, std::string, std::string>{
                                        "@E@", "%3Ca%20href=/m%3Em%3C/a%3E", "&lt;a href=/m>m&lt;/a>"},
                                    {"@H@", "%3C/a%3E%3Cb%3Ehome", "&lt;/a><b>home</b>"}}) {
        std::size_t at = expected.find(mark);
        expected.replace(at, mark.size(), href);
        at = expected.find(mark);
        expected.replace(at, mark.size(), text);
    }
    EXPECT_EQ(page, expected);
}
