// SavePage run as a CGI process: new posts, edits, refusals and the page.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

std::string localStamp(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    gmtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::string storedPage(const TestRecord& r, const std::string& stamp, const std::string& host,
                       const std::string& homepage, const std::string& body) {
    auto padded = [](const std::string& s) { return std::string(s.size() < 4 ? 4 - s.size() : 0, ' ') + s; };
    return "<html>\n"
           "<head><title>게시판 버전 2.13</title></head>\n"
           "<body bgcolor=white>\n"
           "<center>\n"
           "<table border=0><caption><b><font size=-1>" + r.subject + "</font></b></caption>\n"
           "<tr><th>  </th></tr>\n"
           "<tr><th>  </th></tr>\n"
           "<tr><th><font size=-1> 글번호 </font></th><td><font size=-1>" + padded(std::to_string(r.textNum)) +
           "</font></td><th><font size=-1> 읽은횟수 </font></th><td><font size=-1>" + padded(r.readCount) +
           "</font></td></tr>\n"
           "<tr><th><font size=-1>글쓴이</font></th><td><font size=-1>" + r.name +
           "</font></td><th><font size=-1>글쓴날짜</font></th><td><font size=-1>" + stamp + "</font></td></tr>\n"
           "<tr><th><font size=-1>E-mail</font></th><td><a href=mailto:" + r.email + "><font size=-1>" + r.email +
           "</font></a></td><th><font size=-1>URL</font></th><td><a href=http://" + host + "><font size=-1>" + host +
           "</font></a></td></tr>\n"
           "<tr><th><font size=-1>Homepage</font></th><td><a href=" + homepage + "><font size=-1>" + homepage +
           "</font></a></td>\n"
           "<th><font size=-1> 줄수 </font></th><td><font size=-1>" + r.lineCount + "</font></td></th></tr>\n"
           "</table>\n"
           "<img width=420 src=/bbs/Image/blue_line.gif>\n"
           "<br><br>\n"
           "<table border=0>\n"
           "<tr><td><font size=-1>\n" + body +
           "</font></table>\n"
           "<br>\n"
           "<img src=/bbs/Image/line.gif width=500><br>\n" + creditBlock() +
           "<a href=mailto:admin@example.org>admin@example.org</a></br>\n"
           "</font>\n"
           "</center>\n"
           "</body>\n"
           "</html>\n"
           "<br>\n"
           "<center>\n"
           "<font color=4a708b size=-1>\n"
           "<a href=/bbs/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0><img src=/bbs/Image/posting.gif border=0></a>\n"
           "<br>Click\n"
           "</font>\n"
           "</center>\n";
}

class SavePageRun : public ::testing::Test {
protected:
    void SetUp() override {
        site.writeStandardConfig();
        site.boardDir(1);
    }
    CgiResult post(const std::string& query, const std::string& body, long fileSizeLimit = -1) {
        CgiRequest request;
        request.query = query;
        request.body = body;
        request.fileSizeLimit = fileSizeLimit;
        request.env = {{"REMOTE_HOST", "client.example"}, {"TZ", "UTC"}};
        return runCgi("SavePage", site.cgiBin(), request);
    }
    std::string index() { return site.readBoardFile(1, "guestbook.dat"); }
    ScratchSite site;
};

const char kForm[] = "name=Kim&email=kim%40example.org&homepage=http%3A%2F%2Fkim.example&subject=Hello&body=a%0D%0Ab";

}  // namespace

TEST_F(SavePageRun, FirstPostCreatesTheStoreAndShowsTheMessage) {
    std::string date, time;
    CgiResult result;
    do {  // the stored minute must be the one computed here
        date = localStamp("%Y년%m월%d일");
        time = localStamp("%H시%M분");
        std::remove((site.boardDir(1) + "guestbook.dat").c_str());
        result = post("BoardNum=1&TextNum=-1", kForm);
    } while (time != localStamp("%H시%M분"));
    EXPECT_EQ(result.status, 0);
    TestRecord r;
    r.name = "Kim";
    r.date = date;
    r.time = time;
    r.email = "kim@example.org";
    r.subject = "Hello";
    r.lineCount = "2";
    r.homepage = "http://kim.example";
    r.remoteHost = "client.example";
    EXPECT_EQ(index(), headerBytes(1, 1, 1) + recordBytes(r));
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "a<br>\nb");
    EXPECT_EQ(pageOf(result), storedPage(r, date + " " + time, "client.example", "http://kim.example", "a<br>\nb"));
    // "년" in EUC-KR.
    EXPECT_NE(index().find("\xB3\xE2"), std::string::npos);
}

TEST_F(SavePageRun, NextPostTakesTheNextNumberAndSerial) {
    std::string stored = headerBytes(7, 5, 1);
    for (int n = 1; n <= 5; ++n) {
        TestRecord r;
        r.textNum = n;
        stored += recordBytes(r);
    }
    site.writeBoardFile(1, "guestbook.dat", stored);
    CgiResult result = post("BoardNum=1&TextNum=-1", "a=Lee&b=&c=&d=Title&e=Hi+there%2B");
    EXPECT_EQ(result.status, 0);
    std::string after = index();
    ASSERT_EQ(after.size(), 125u + 6 * 410);
    EXPECT_EQ(after.substr(0, 125), headerBytes(8, 6, 1));
    EXPECT_EQ(after.substr(125, 5 * 410), stored.substr(125));
    std::string record = after.substr(125 + 5 * 410);
    EXPECT_EQ(fieldAt(record, 0, 5), "6");
    EXPECT_EQ(fieldAt(record, 5, 20), "Lee");
    EXPECT_EQ(fieldAt(record, 105, 10), "   0");
    EXPECT_EQ(fieldAt(record, 195, 5), "1");
    EXPECT_EQ(fieldAt(record, 310, 100), "guestbook8.html");
    EXPECT_EQ(site.readBoardFile(1, "guestbook8.html"), "Hi there+");
}

TEST_F(SavePageRun, MissingFieldsCreateNothing) {
    for (const char* form : {"name=&e=&h=&s=S&b=B", "name=N&e=&h=&s=&b=B", "name=N&e=&h=&s=S&b=", "name=N&e=x"}) {
        CgiResult result = post("BoardNum=1&TextNum=-1", form);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(pageOf(result),
                  "<html>\n<head><title>게시판 버전 2.13</title></head>\n<body bgcolor=white>\n<center>\n"
                  "<img border=0 src=/bbs/Image/title1.gif><br><br>\n"
                  "<img src=/bbs/Image/line_ani.gif><br><br>\n"
                  "<font size=3>방문자의 이름, 제목, 내용을 써주세요!!!</font><br>\n"
                  "<font size=3>You should write your name, title and comment!!!</font></center>\n"
                  "<br><br><br>\n"
                  "<center><a href=/bbs/cgi-bin/FormPage.exe?BoardNum=1><img border=0 src=/bbs/Image/before.gif></a></center>\n"
                  "</body>\n</html>\n");
    }
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
}

TEST_F(SavePageRun, ValuesAreCutToTheirFieldsAtCharacterBoundaries) {
    // 19 bytes of room: "a" and nine Korean characters fit, the tenth does not.
    std::string name = "a";
    for (int i = 0; i < 12; ++i) name += "%C7%D1";
    std::string host(80, 'h');
    CgiRequest request;
    request.query = "BoardNum=1&TextNum=-1";
    request.body = "n=" + name + "&e=&h=&s=S&b=B";
    request.env = {{"REMOTE_HOST", host}};
    EXPECT_EQ(runCgi("SavePage", site.cgiBin(), request).status, 0);
    std::string record = index().substr(125);
    std::string expected = "a";
    for (int i = 0; i < 9; ++i) expected += "\xC7\xD1";
    EXPECT_EQ(fieldAt(record, 5, 20), expected);
    EXPECT_EQ(record[5 + 19], '\0');
    EXPECT_EQ(fieldAt(record, 25, 20).size(), 14u);  // the date field was not run into
    EXPECT_EQ(fieldAt(record, 260, 50), std::string(49, 'h'));
    EXPECT_EQ(fieldAt(record, 310, 100), "guestbook1.html");
}

TEST_F(SavePageRun, EditReplacesOnlyItsRecordAndBody) {
    std::string stored = headerBytes(4, 4, 1);
    for (int n = 1; n <= 4; ++n) {
        TestRecord r;
        r.textNum = n;
        r.readCount = "  17";
        stored += recordBytes(r);
        site.writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "old");
    }
    site.writeBoardFile(1, "guestbook.dat", stored);
    CgiResult result = post("BoardNum=1&TextNum=3", "n=Park&e=&h=&s=New&b=x%0D%0Ay&password=secret");
    EXPECT_EQ(result.status, 0);
    std::string after = index();
    ASSERT_EQ(after.size(), stored.size());
    std::size_t at = 125 + 2 * 410;
    EXPECT_EQ(after.substr(0, at), stored.substr(0, at));
    EXPECT_EQ(after.substr(at + 410), stored.substr(at + 410));
    std::string record = after.substr(at, 410);
    EXPECT_EQ(fieldAt(record, 0, 5), "3");
    EXPECT_EQ(fieldAt(record, 5, 20), "Park");
    EXPECT_EQ(fieldAt(record, 105, 10), "  17");
    EXPECT_EQ(fieldAt(record, 115, 80), "New");
    EXPECT_EQ(fieldAt(record, 195, 5), "2");
    EXPECT_EQ(fieldAt(record, 260, 50), "client.example");
    EXPECT_EQ(fieldAt(record, 310, 100), "guestbook3.html");
    EXPECT_EQ(site.readBoardFile(1, "guestbook3.html"), "x<br>\ny");
    EXPECT_EQ(site.readBoardFile(1, "guestbook2.html"), "old");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook3.html.new"));
    EXPECT_NE(pageOf(result).find("<font size=-1>   3</font></td><th><font size=-1> 읽은횟수 </font></th><td><font size=-1>  17</font>"),
              std::string::npos);
}

TEST_F(SavePageRun, EditWithoutThePasswordIsDeniedAndStoresNothing) {
    std::string stored = indexOfMessages(2, 1);
    site.writeBoardFile(1, "guestbook.dat", stored);
    for (const char* form : {"n=P&e=&h=&s=S&b=B&password=Secret", "n=P&e=&h=&s=S&b=B"}) {
        CgiResult result = post("BoardNum=1&TextNum=2", form);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(pageOf(result), errorPage("/bbs/", 1,
                                            "<font color=228b22 size=2>Access denied.</font><br>\n\t\t\t      "
                                            "<font color=454545 size=-1>손님은 수정하기 권한이 없습니다.</font><br>",
                                            "admin@example.org"));
    }
    site.writeConfig("BBS_DIR " + site.bbsDir() + "\n1 t.gif\n");  // no password: closed
    EXPECT_EQ(post("BoardNum=1&TextNum=2", "n=P&e=&h=&s=S&b=B&password=").status, 0);
    EXPECT_EQ(index(), stored);
}

TEST_F(SavePageRun, RefusalsLeaveTheStoreAsItWas) {
    std::string stored = indexOfMessages(3, 1);
    site.writeBoardFile(1, "guestbook.dat", stored);
    for (const char* query : {"BoardNum=1&TextNum=0", "BoardNum=1&TextNum=4", "BoardNum=1&TextNum=-2"}) {
        CgiResult result = post(query, "n=P&e=&h=&s=S&b=B&password=secret");
        EXPECT_EQ(result.status, 1) << query;
        EXPECT_NE(pageOf(result).find("There is no message"), std::string::npos) << query;
    }
    // A damaged store (one byte short) is not appended to.
    site.writeBoardFile(1, "guestbook.dat", stored.substr(0, stored.size() - 1));
    EXPECT_EQ(post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B").status, 1);
    EXPECT_EQ(index(), stored.substr(0, stored.size() - 1));
    // A full board refuses a new post.
    site.writeBoardFile(1, "guestbook.dat", headerBytes(9999, 9999, 1) + std::string(9999u * 410, '\0'));
    CgiResult full = post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(index().size(), 125u + 9999u * 410);
    EXPECT_FALSE(site.boardFileExists(1, "guestbook10000.html"));
    // Board numbers that the header cannot hold are refused.
    EXPECT_EQ(post("BoardNum=10000&TextNum=-1", "n=P&e=&h=&s=S&b=B").status, 1);
    EXPECT_EQ(post("BoardNum=-1000&TextNum=-1", "n=P&e=&h=&s=S&b=B").status, 1);
}

TEST_F(SavePageRun, BodyFileThatCannotBeCreatedLeavesTheIndexUntouched) {
    std::string stored = indexOfMessages(2, 1);
    site.writeBoardFile(1, "guestbook.dat", stored);
    ::mkdir((site.boardDir(1) + "guestbook3.html").c_str(), 0755);
    CgiResult result = post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), "Can't open " + site.boardDir(1) + "guestbook3.html.\n");
    EXPECT_EQ(index(), stored);
    // A board directory that does not exist: nothing is created.
    CgiResult noBoard = post("BoardNum=2&TextNum=-1", "n=P&e=&h=&s=S&b=B");
    EXPECT_EQ(noBoard.status, 1);
    EXPECT_NE(pageOf(noBoard).find("Can't open " + site.bbsDir() + "2/guestbook.dat."), std::string::npos);
    EXPECT_FALSE(fileExists(site.bbsDir() + "2"));
}

TEST_F(SavePageRun, WritesCutShortByAFullDiskLeaveTheBoardAsItWas) {
    const std::string cantWriteIndex = "Can't write " + site.boardDir(1) + "guestbook.dat.";
    // A first post whose index cannot be written leaves no store behind.
    CgiResult fresh = post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B", 100);
    EXPECT_EQ(fresh.status, 1);
    EXPECT_NE(pageOf(fresh).find(cantWriteIndex), std::string::npos);
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    EXPECT_FALSE(site.boardFileExists(1, "guestbook1.html"));

    std::string stored = indexOfMessages(2, 1);
    site.writeBoardFile(1, "guestbook.dat", stored);
    site.writeBoardFile(1, "guestbook2.html", "old");
    const std::string longBody = "n=P&e=&h=&s=S&b=" + std::string(3000, 'x');
    // The body file is cut short: nothing refers to it, and it is removed.
    CgiResult body = post("BoardNum=1&TextNum=-1", longBody, 2000);
    EXPECT_EQ(body.status, 1);
    EXPECT_EQ(pageOf(body), "Can't open " + site.boardDir(1) + "guestbook3.html.\n");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook3.html"));
    EXPECT_EQ(index(), stored);
    // The header fits but the record does not: the old header comes back.
    CgiResult record = post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B", static_cast<long>(stored.size()) + 100);
    EXPECT_EQ(record.status, 1);
    EXPECT_NE(pageOf(record).find(cantWriteIndex), std::string::npos);
    EXPECT_FALSE(site.boardFileExists(1, "guestbook3.html"));
    EXPECT_EQ(index(), stored);
    // An edit whose new body cannot be written keeps the old one.
    CgiResult edit = post("BoardNum=1&TextNum=2", longBody + "&password=secret", 2000);
    EXPECT_EQ(edit.status, 1);
    EXPECT_EQ(site.readBoardFile(1, "guestbook2.html"), "old");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook2.html.new"));
    EXPECT_EQ(index(), stored);
    // With room again the board takes the post as the next message.
    EXPECT_EQ(post("BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B").status, 0);
    EXPECT_EQ(fieldAt(index(), 10, 10), "3");
}

TEST_F(SavePageRun, FewerPairsCountAsEmptyAndHostFallsBack) {
    CgiRequest request;
    request.query = "BoardNum=1&TextNum=-1";
    request.body = "n=Kim";
    EXPECT_EQ(runCgi("SavePage", site.cgiBin(), request).status, 0);
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    request.body = "n=Kim&e=&h=&s=S&b=B";
    request.env = {{"REMOTE_ADDR", "192.0.2.7"}};
    EXPECT_EQ(runCgi("SavePage", site.cgiBin(), request).status, 0);
    EXPECT_EQ(fieldAt(index().substr(125), 260, 50), "192.0.2.7");
}

TEST_F(SavePageRun, SimultaneousPostsNeverShareANumberOrBodyFile) {
    constexpr int kPosts = 20;
    std::vector<std::thread> posters;
    std::vector<int> statuses(kPosts, -1);
    for (int i = 0; i < kPosts; ++i) {
        posters.emplace_back([&, i] {
            statuses[i] = post("BoardNum=1&TextNum=-1", "n=W&e=&h=&s=S&b=body" + std::to_string(i)).status;
        });
    }
    for (auto& poster : posters) poster.join();
    for (int status : statuses) EXPECT_EQ(status, 0);
    std::string after = index();
    ASSERT_EQ(after.size(), 125u + kPosts * 410);
    EXPECT_EQ(after.substr(0, 125), headerBytes(kPosts, kPosts, 1));
    std::set<std::string> bodies;
    for (int n = 1; n <= kPosts; ++n) {
        std::string record = after.substr(125 + (n - 1) * 410, 410);
        EXPECT_EQ(fieldAt(record, 0, 5), std::to_string(n));
        bodies.insert(site.readBoardFile(1, fieldAt(record, 310, 100)));
    }
    EXPECT_EQ(bodies.size(), static_cast<std::size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) EXPECT_EQ(bodies.count("body" + std::to_string(i)), 1u);
}

TEST_F(SavePageRun, StoredAsPostedButShownContained) {
    const std::string form =
        "name=%3Cb%3EKim&email=%3Ca+href%3D%2Fm%3Em&homepage=http%3A%2F%2Fh.example%2F%3Fq%3D1&subject=%3C%2Fcenter%3ES"
        "&body=%3Ch1%3Ebig%0D%0A%3C%2Ffont%3E%3C%2Ftable%3E";
    CgiResult result = post("BoardNum=1&TextNum=-1", form);
    ASSERT_EQ(result.status, 0);
    // The board keeps the bytes as posted: only printing contains them.
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "<h1>big<br>\n</font></table>");
    EXPECT_EQ(fieldAt(index().substr(125), 5, 20), "<b>Kim");
    const std::string page = pageOf(result);
    for (const char* part : {
             "<caption><b><font size=-1>&lt;/center>S</font></b></caption>",
             "<td><font size=-1><b>Kim</b></font></td>",
             "<a href=mailto:%3Ca%20href=/m%3Em><font size=-1>&lt;a href=/m>m</font></a>",
             "<a href=http://h.example/?q=1><font size=-1>http://h.example/?q=1</font></a>",
             "<tr><td><font size=-1>\n<h1>big<br>\n&lt;/font>&lt;/table></h1></font></table>\n<br>\n",
         })
        EXPECT_NE(page.find(part), std::string::npos) << part;
    const std::string end = "</html>\n<br>\n<center>\n<font color=4a708b size=-1>\n"
                            "<a href=/bbs/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0><img src=/bbs/Image/posting.gif "
                            "border=0></a>\n<br>Click\n</font>\n</center>\n";
    ASSERT_GE(page.size(), end.size());
    EXPECT_EQ(page.substr(page.size() - end.size()), end);
}

TEST_F(SavePageRun, AnyContentLengthGivesAPage) {
    // The lowest int once counted down past its end. A length above the
    // form limit is refused with its page before anything is read.
    for (const auto& [length, status] : std::vector<std::pair<const char*, int>>{
             {"-2147483648", 0}, {"-99999999999", 0}, {"2147483648", 1}, {"-1", 0}}) {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=-1";
        request.body = "n=Kim&e=&h=&s=S&b=B";
        request.contentLength = length;
        CgiResult result = runCgi("SavePage", site.cgiBin(), request);
        EXPECT_EQ(result.status, status) << length;
        EXPECT_EQ(result.signal, 0) << length;
        EXPECT_NE(pageOf(result).find("</html>"), std::string::npos) << length;
    }
    EXPECT_EQ(fieldAt(index(), 10, 10), "3");
}
