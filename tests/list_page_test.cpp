// ListPage run as a CGI process: whole pages, paging, the no-data page and
// the refusals on counts and paths that name no records.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <vector>

#include "board_files.h"
#include "store/board_lock.h"
#include "cgi_runner.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

std::string boardTitle(const std::string& title) {
    return "<html>\n"
           "<head><title>게시판 버전 2.13</title></head>\n"
           "<body bgcolor=ffffff>\n"
           "<center>\n"
           "<img src=/bbs/Image/" + title + " width=200 height=60 border=0>\n"
           "<table border=0 width=480 cellspace=3>\n"
           "<tr>\n"
           "<td valign=buttom>\n"
           "<img align=left border=0 src=/bbs/Image/bookpen.gif>\n"
           "<br>\n"
           "<img width=420 src=/bbs/Image/line_ani.gif>\n"
           "</td>\n"
           "</tr>\n"
           "</table>\n"
           "</center>\n"
           "<center>\n";
}

const std::string kColumns =
    "<th><font size=-1>글번호</font></th><th><font size=-1>글쓴이</font></th><th><font size=-1>글쓴날짜</font></th>"
    "<th><font size=-1>읽은횟수</font></th><th><font size=-1>줄수</font></th><th><font size=-1>글제목</font></th></tr>";

std::string footer(const std::string& email) {
    return "<p>\n"
           "<center>\n"
           "<img src=/bbs/Image/line.gif>\n"
           "<br>\n" +
           creditBlock() +
           "<a href=mailto:" + email + ">" + email + "</a></br>\n"
           "</font></center>\n"
           "</body>\n"
           "</html>\n";
}

std::string row(int board, const TestRecord& r) {
    std::string cell = "<td bgcolor=#d0eeed align=center><font size=-1>";
    std::string writer = r.email.empty() ? cell + r.name + "</font></td>"
                                         : cell + "<a href=mailto:" + r.email + "></font><font size=-1>" + r.name +
                                               "</font></a></td>";
    return "<tr><td bgcolor=#f0f0e0 align=center><font size=-1>" + std::to_string(r.textNum) + "</font></td>" + writer +
           cell + r.date + "</font></td>" + cell + r.readCount + "</font></td>" + cell + r.lineCount + "</font></td>" +
           "<td bgcolor=#d0eeed align=center><a href=/bbs/cgi-bin/ShowPage.exe?BoardNum=" + std::to_string(board) +
           "&TextNum=" + std::to_string(r.textNum) + "><font size=-1>" + r.subject + "</font></a></td></tr>\n\n";
}

// The message numbers of the rows, in page order.
std::vector<int> rowNumbers(const std::string& page) {
    static const std::regex cell("<tr><td bgcolor=#f0f0e0 align=center><font size=-1>(-?[0-9]+)</font></td>");
    std::vector<int> numbers;
    for (std::sregex_iterator it(page.begin(), page.end(), cell), end; it != end; ++it)
        numbers.push_back(std::stoi((*it)[1]));
    return numbers;
}

// The TextNum of the older-page arrow, or -1000 when there is none.
int arrowTarget(const std::string& page, int board) {
    std::regex arrow("<a href=/bbs/cgi-bin/ListPage.exe\\?BoardNum=" + std::to_string(board) +
                     "&TextNum=(-?[0-9]+)><img src=/bbs/Image/leftarrow.gif border=0></a>\n");
    std::smatch match;
    return std::regex_search(page, match, arrow) ? std::stoi(match[1]) : -1000;
}

std::vector<int> descending(int from, int to) {
    std::vector<int> numbers;
    for (int n = from; n >= to; --n) numbers.push_back(n);
    return numbers;
}

class ListPageRun : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }
    CgiResult run(const std::string& query) {
        CgiRequest request;
        request.query = query;
        return runCgi("ListPage", site.cgiBin(), request);
    }
    std::string listed(const std::string& query) {
        CgiResult result = run(query);
        EXPECT_EQ(result.status, 0) << query;
        return pageOf(result);
    }
    ScratchSite site;
};

}  // namespace

TEST_F(ListPageRun, ListsAThreeMessageBoardNewestFirst) {
    TestRecord first;
    first.textNum = 1;
    first.name = "김철수";
    first.subject = "첫 글";
    first.readCount = "  12";
    TestRecord second;
    second.textNum = 2;
    second.name = "Lee";
    second.email = "lee@example.org";
    second.subject = "Second";
    second.lineCount = "4";
    TestRecord third;
    third.textNum = 3;
    third.name = "Park";
    third.date = "1998년12월31일";
    third.subject = "Third";
    site.writeBoardFile(1, "guestbook.dat",
                        headerBytes(3, 3, 1) + recordBytes(first) + recordBytes(second) + recordBytes(third));
    const std::string before = site.readBoardFile(1, "guestbook.dat");

    std::string expected = boardTitle("title1.gif") + "<table border=0 align=center><tr>" + kColumns + "\n" +
                           row(1, third) + row(1, second) + row(1, first) +
                           "</table>\n"
                           "</center>\n"
                           "<br>\n"
                           "<center>\n"
                           "<a href=/bbs/cgi-bin/FormPage.exe?BoardNum=1&BoardNum=-1><img src=/bbs/Image/posting.gif "
                           "align=absmiddle border=0></a>\n"
                           "</center>\n" +
                           footer("admin@example.org");
    std::string page = listed("BoardNum=1&TextNum=0");
    EXPECT_EQ(page, expected);
    // The column head "글번호" and the writer "김철수" go out in EUC-KR.
    EXPECT_NE(page.find("\xb1\xdb\xb9\xf8\xc8\xa3"), std::string::npos);
    EXPECT_NE(page.find("\xb1\xe8\xc3\xb6\xbc\xf6"), std::string::npos);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat"), before) << "the listing wrote to the index";
}

TEST_F(ListPageRun, BoardWithoutIndexGetsTheNoDataPage) {
    std::string expected = boardTitle("title3.gif") + "<table border=0 cellspace=3 align=absmiddle><tr>" + kColumns +
                           "</table>\n"
                           "<br><br><br><br><br>\n"
                           "<blink><font color=2e8b57 size=-1>There is no data file!!!</font></blink><br>\n"
                           "<blink><font color=ff1493 size=-1>방명록을 작성하셔야만 합니다!!!</font></blink>\n"
                           "<br><br><br><br><br>\n"
                           "<a href=/bbs/cgi-bin/FormPage.exe?BoardNum=3&TextNum=-1><img src=/bbs/Image/posting.gif "
                           "align=absmiddle border=0></a>\n" +
                           footer("board3@example.org");
    EXPECT_EQ(listed("BoardNum=3&TextNum=0"), expected);
    EXPECT_FALSE(site.boardFileExists(3, "guestbook.dat"));
    // No board directory at all: the same page, nothing created.
    CgiResult result = run("BoardNum=2&TextNum=0");
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(pageOf(result).find("There is no data file!!!"), std::string::npos);
    EXPECT_FALSE(fileExists(site.bbsDir() + "2"));
}

TEST_F(ListPageRun, PagingWalkOnTwentyFiveMessages) {
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(25, 1));
    std::string newest = listed("BoardNum=1&TextNum=0");
    EXPECT_EQ(rowNumbers(newest), descending(25, 16));
    ASSERT_EQ(arrowTarget(newest, 1), 15);
    std::string middle = listed("BoardNum=1&TextNum=15");
    EXPECT_EQ(rowNumbers(middle), descending(15, 6));
    ASSERT_EQ(arrowTarget(middle, 1), 5);
    std::string oldest = listed("BoardNum=1&TextNum=5");
    EXPECT_EQ(rowNumbers(oldest), descending(10, 1));
    EXPECT_EQ(arrowTarget(oldest, 1), -1000);
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=-1")), descending(10, 1));
    // Every page keeps the posting link with its odd second parameter.
    EXPECT_NE(middle.find("FormPage.exe?BoardNum=1&BoardNum=-1>"), std::string::npos);
}

TEST_F(ListPageRun, SmallBoardsShowEveryMessageWhateverTheTextNum) {
    for (int count : {7, 10}) {
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(count, 1));
        for (const char* textNum : {"0", "3", "25", "-1"}) {
            std::string page = listed(std::string("BoardNum=1&TextNum=") + textNum);
            EXPECT_EQ(rowNumbers(page), descending(count, 1)) << count << " messages, TextNum " << textNum;
            EXPECT_EQ(arrowTarget(page, 1), -1000) << count << " messages, TextNum " << textNum;
        }
    }
}

TEST_F(ListPageRun, TextNumAboveTheCountShowsTheNewestPage) {
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(25, 1));
    std::string newest = listed("BoardNum=1&TextNum=0");
    EXPECT_EQ(listed("BoardNum=1&TextNum=26"), newest);
    EXPECT_EQ(listed("BoardNum=1&TextNum=40"), newest);
    EXPECT_EQ(listed("BoardNum=1&TextNum=2147483647"), newest);
    // Extreme values neither overflow nor list records that do not exist.
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=-2147483648")), descending(10, 1));
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=99999999999")), descending(25, 16));
}

TEST_F(ListPageRun, CountOfZeroOrBelowListsNoRows) {
    for (const char* count : {"0", "-3", "", "junk"}) {
        std::string header = headerBytes(4, 0, 1);
        header.replace(10, 10, std::string(10, '\0'));
        header.replace(10, std::string(count).size(), count);
        // Records stay behind the header: a count that names none lists none.
        site.writeBoardFile(1, "guestbook.dat", header + indexOfMessages(3, 1).substr(125));
        std::string page = listed("BoardNum=1&TextNum=0");
        EXPECT_TRUE(rowNumbers(page).empty()) << "count '" << count << "'";
        EXPECT_EQ(arrowTarget(page, 1), -1000);
        EXPECT_NE(page.find("FormPage.exe?BoardNum=1&BoardNum=-1>"), std::string::npos);
    }
}

TEST_F(ListPageRun, RowsOnlyForRecordsThatTheFileHolds) {
    // The header promises five records; only two follow it.
    std::string index = indexOfMessages(2, 1);
    index.replace(10, 10, std::string("5") + std::string(9, '\0'));
    site.writeBoardFile(1, "guestbook.dat", index);
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=0")), (std::vector<int>{2, 1}));
    // A record written only in part is no row; the whole one before it is.
    index = indexOfMessages(1, 1) + recordBytes(TestRecord()).substr(0, 300);
    index.replace(10, 10, std::string("3") + std::string(9, '\0'));
    site.writeBoardFile(1, "guestbook.dat", index);
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=0")), (std::vector<int>{1}));
    // The older program's erase left the index one slot longer than its
    // count, with a stale copy of the last record: each message once.
    index = indexOfMessages(3, 1);
    index.replace(10, 10, std::string("2") + std::string(9, '\0'));
    site.writeBoardFile(1, "guestbook.dat", index);
    EXPECT_EQ(rowNumbers(listed("BoardNum=1&TextNum=0")), (std::vector<int>{2, 1}));
    // A header cut short holds no count at all.
    site.writeBoardFile(1, "guestbook.dat", std::string("12"));
    EXPECT_TRUE(rowNumbers(listed("BoardNum=1&TextNum=0")).empty());
}

TEST_F(ListPageRun, IndexPathThatDoesNotFitIsRefused) {
    // The board directory fits its field; with "guestbook.dat" after it the path does not.
    std::string bbsDir = site.bbsDir() + std::string(245 - site.bbsDir().size() - 1, 'd') + "/";
    ASSERT_EQ(bbsDir.size(), 245u);
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + bbsDir + "\nEMAIL admin@example.org\n1 title1.gif\n");
    CgiResult result = run("BoardNum=1&TextNum=0");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result),
              errorPage("/bbs/", 1, "<font color=228b22 size=3>The board's file path is too long!!!</font><br>",
                        "admin@example.org"));
}

TEST_F(ListPageRun, WaitsWhileTheBoardIsBeingChanged) {
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(3, 1));
    BoardLock writer;
    ASSERT_EQ(writer.acquire(site.boardDir(1).c_str(), LockMode::Exclusive), 1);
    auto listing = std::async(std::launch::async, [&] { return run("BoardNum=1&TextNum=0"); });
    EXPECT_EQ(listing.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout)
        << "the listing read the store while a writer held the board";
    // The writer finishes its change before letting go.
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(4, 1));
    writer.release();
    CgiResult result = listing.get();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(rowNumbers(pageOf(result)), descending(4, 1));
}

TEST_F(ListPageRun, MarkupInDamagedNumberFieldsIsShownAsText) {
    TestRecord r;
    r.readCount = "<script>";
    r.lineCount = "<b>";
    r.name = "<b>Kim</b>";
    r.subject = "<img src=x onerror=alert(1)>";
    site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(r));
    std::string page = listed("BoardNum=1&TextNum=0");
    EXPECT_NE(page.find("<font size=-1>&lt;script></font>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)>"), std::string::npos);
    EXPECT_EQ(page.find("<img src=x"), std::string::npos);
    EXPECT_NE(page.find("<font size=-1><b>Kim</b></font>"), std::string::npos);
}

TEST_F(ListPageRun, VisitorMarkupStaysInsideItsCell) {
    TestRecord first;
    first.textNum = 1;
    first.subject = "</a>stray close";
    first.name = "<a href=/x>L</a>";
    first.email = "m@x.org";
    TestRecord second;
    second.textNum = 2;
    second.subject = "<a href=http://example.com/>plain link</a>";
    second.name = "<b>Kim";
    TestRecord third;
    third.textNum = 3;
    third.subject = "<font size=7>big";
    third.name = "</center></font>Lee";
    TestRecord fourth;
    fourth.textNum = 4;
    fourth.subject = "<b>balanced</b> & <i>plain</i>";
    fourth.name = "<a href=/p>Park</a>";
    site.writeBoardFile(1, "guestbook.dat",
                        headerBytes(4, 4, 1) + recordBytes(first) + recordBytes(second) + recordBytes(third) +
                            recordBytes(fourth));
    const std::string page = listed("BoardNum=1&TextNum=0");

    // Inside the row's links (subject, and the name beside an e-mail
    // address) a visitor's link is text; elsewhere it stays a link.
    TestRecord shown = first;
    shown.subject = "&lt;/a>stray close";
    shown.name = "&lt;a href=/x>L&lt;/a>";
    EXPECT_NE(page.find(row(1, shown)), std::string::npos);
    shown = second;
    shown.subject = "&lt;a href=http://example.com/>plain link&lt;/a>";
    shown.name = "<b>Kim</b>";
    EXPECT_NE(page.find(row(1, shown)), std::string::npos);
    shown = third;
    shown.subject = "<font size=7>big</font>";
    shown.name = "&lt;/center>&lt;/font>Lee";
    EXPECT_NE(page.find(row(1, shown)), std::string::npos);
    EXPECT_NE(page.find(row(1, fourth)), std::string::npos) << "balanced markup changed";
    EXPECT_EQ(page.find("<a href=http://example.com/"), std::string::npos);
    // The page's own end follows the rows untouched.
    const std::string end = "</table>\n</center>\n<br>\n<center>\n"
                            "<a href=/bbs/cgi-bin/FormPage.exe?BoardNum=1&BoardNum=-1><img src=/bbs/Image/posting.gif "
                            "align=absmiddle border=0></a>\n</center>\n" +
                            footer("admin@example.org");
    ASSERT_GE(page.size(), end.size());
    EXPECT_EQ(page.substr(page.size() - end.size()), end);
}
