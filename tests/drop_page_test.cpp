// DropPage run as a CGI process: the check, the erase and what it leaves.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

std::string removedPage() {
    return "<html>\n<head><title>게시판 버전 2.13</title></head>\n<body bgcolor=white>\n<br>\n<center>\n"
           "<br><br><br><br>\n"
           "<font color=228b22 size=2>Successfully removed.</font><br>\n"
           "<font color=454545 size=-1>성공적으로 지워졌습니다.</font><br>\n"
           "<br><br><br><br>\n<center>\n<font color=4a708b size=-1>\n"
           "<a href=/bbs/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0><img src=/bbs/Image/posting.gif border=0></a>\n"
           "<br>Click\n</font>\n</center><br>\n<img src=/bbs/Image/line.gif width=500><br>\n" +
           creditBlock() +
           "<a href=mailto:admin@example.org>admin@example.org</a></br>\n</font>\n</center>\n</body>\n</html>\n";
}

const char kDenied[] =
    "<font color=228b22 size=2>Access denied.</font><br>\n\t\t\t      "
    "<font color=454545 size=-1>손님은 글지우기 권한이 없습니다.</font><br>";

class DropPageRun : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }
    void storeMessages(int count) {
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(count, 1));
        for (int n = 1; n <= count; ++n) site.writeBoardFile(1, body(n), "body " + std::to_string(n));
    }
    static std::string body(int n) { return "guestbook" + std::to_string(n) + ".html"; }
    CgiResult erase(int textNum, const std::string& form = "password=secret", int board = 1, long fileSizeLimit = -1) {
        CgiRequest request;
        request.fileSizeLimit = fileSizeLimit;
        request.query = "BoardNum=" + std::to_string(board) + "&TextNum=" + std::to_string(textNum);
        request.body = form;
        return runCgi("DropPage", site.cgiBin(), request);
    }
    std::string index() { return site.readBoardFile(1, "guestbook.dat"); }
    ScratchSite site;
};

}  // namespace

TEST_F(DropPageRun, ErasingTheMiddleMessageMovesTheLaterOnesUp) {
    storeMessages(3);
    std::string before = index();
    CgiResult result = erase(2);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pageOf(result), removedPage());
    std::string expected = before.substr(0, 125 + 410) + before.substr(125 + 2 * 410);
    expected.replace(10, 1, "2");                 // TextCount 3 -> 2
    expected.replace(125 + 410, 1, "2");          // old record 3 now numbered 2
    EXPECT_EQ(index(), expected);
    EXPECT_FALSE(site.boardFileExists(1, body(2)));
    EXPECT_EQ(site.readBoardFile(1, body(3)), "body 3");
    EXPECT_FALSE(site.boardFileExists(1, "tmp.dat"));
}

TEST_F(DropPageRun, RenumberingLeavesTheRestOfTheFieldAsItWas) {
    storeMessages(10);
    EXPECT_EQ(erase(9).status, 0);
    std::string after = index();
    ASSERT_EQ(after.size(), 125u + 9 * 410);
    std::string textNum = after.substr(125 + 8 * 410, 5);
    EXPECT_EQ(std::string(textNum.c_str()), "9");
    EXPECT_EQ(textNum[2], '\0');  // "10" had its NUL at 2; the rest stays as it was
    EXPECT_EQ(fieldAt(after, 10, 10), "9");
}

TEST_F(DropPageRun, ErasingTheLastAndTheOnlyMessage) {
    storeMessages(3);
    std::string before = index();
    EXPECT_EQ(erase(3).status, 0);
    std::string expected = before.substr(0, 125 + 2 * 410);
    expected.replace(10, 1, "2");
    EXPECT_EQ(index(), expected);
    EXPECT_FALSE(site.boardFileExists(1, body(3)));

    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(1, 1));
    CgiResult only = erase(1);
    EXPECT_EQ(pageOf(only), removedPage());
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    EXPECT_FALSE(site.boardFileExists(1, body(1)));
}

TEST_F(DropPageRun, DenialAndMissingIndex) {
    storeMessages(2);
    std::string before = index();
    for (const char* form : {"password=Secret", "password=", "", "password=secret+", "x=secre&password=secret"}) {
        CgiResult result = erase(1, form);
        EXPECT_EQ(result.status, 0) << form;
        EXPECT_EQ(pageOf(result), errorPage("/bbs/", 1, kDenied, "admin@example.org")) << form;
    }
    EXPECT_EQ(index(), before);
    // The first value counts whatever its name, after decoding.
    site.writeConfig("BBS_DIR " + site.bbsDir() + "\nPassword a b+c\n1 t.gif\n");
    EXPECT_NE(pageOf(erase(2, "anything=a+b%2Bc")).find("Successfully removed."), std::string::npos);
    // The query's values are not the form's: a request without a body posts
    // no password, even where the site's password is the board's number.
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword 1\n1 t.gif\n");
    before = index();
    EXPECT_EQ(pageOf(erase(1, "")), errorPage("/bbs/", 1, kDenied, "admin@example.org"));
    EXPECT_EQ(index(), before);
    // A wrong password on a board without an index: the line, then the denial.
    site.writeStandardConfig();
    CgiResult missing = erase(1, "password=wrong", 2);
    EXPECT_EQ(missing.status, 0);
    std::string line = "Can't open " + site.bbsDir() + "2/guestbook.dat.\n";
    EXPECT_EQ(pageOf(missing).substr(0, line.size()), line);
}

TEST_F(DropPageRun, SiteWithoutPasswordErasesNothing) {
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\n1 t.gif\n");
    storeMessages(2);
    std::string before = index();
    for (const char* form : {"password=", ""}) EXPECT_EQ(erase(1, form).status, 0);
    EXPECT_EQ(index(), before);
}

TEST_F(DropPageRun, NumbersThatNameNoMessageChangeNothing) {
    site.writeBoardFile(1, "guestbook.dat", headerBytes(4, 0, 1));
    EXPECT_EQ(pageOf(erase(1)), "There's no data guestbook.dat.\n");
    storeMessages(3);
    std::string before = index();
    for (int n : {0, -1, 4}) {
        EXPECT_EQ(pageOf(erase(n)), "There's no message " + std::to_string(n) + " in guestbook.dat.\n");
    }
    EXPECT_EQ(index(), before);
}

TEST_F(DropPageRun, ScratchFileThatCannotBeCreatedLeavesTheBoardAsItWas) {
    storeMessages(3);
    std::string before = index();
    ::mkdir((site.boardDir(1) + "tmp.dat").c_str(), 0755);
    CgiResult result = erase(2);
    EXPECT_EQ(pageOf(result), "Can't open " + site.boardDir(1) + "tmp.dat!!!\n");
    EXPECT_EQ(index(), before);
    EXPECT_TRUE(site.boardFileExists(1, body(2)));
}

TEST_F(DropPageRun, ScratchFileCutShortByAFullDiskLeavesTheBoardAsItWas) {
    storeMessages(3);
    std::string before = index();
    CgiResult result = erase(2, "password=secret", 1, 500);
    EXPECT_EQ(pageOf(result), "Can't open " + site.boardDir(1) + "tmp.dat!!!\n");
    EXPECT_EQ(index(), before);
    EXPECT_TRUE(site.boardFileExists(1, body(2)));
    EXPECT_FALSE(site.boardFileExists(1, "tmp.dat"));
    EXPECT_EQ(pageOf(erase(2)), removedPage());
    EXPECT_EQ(index().size(), 125u + 2 * 410);
}

TEST_F(DropPageRun, SimultaneousErasesAndViewsKeepTheStoreWhole) {
    storeMessages(15);
    std::vector<std::thread> runs;
    for (int i = 0; i < 10; ++i) {
        runs.emplace_back([&, i] { erase(1 + i % 3); });
        runs.emplace_back([&, i] {
            CgiRequest view;
            view.query = "BoardNum=1&TextNum=" + std::to_string(1 + i);
            runCgi("ShowPage", site.cgiBin(), view);
        });
    }
    for (auto& run : runs) run.join();
    std::string after = index();
    int count = std::stoi(fieldAt(after, 10, 10));
    EXPECT_EQ(count, 5);
    ASSERT_EQ(after.size(), 125u + static_cast<std::size_t>(count) * 410);
    for (int n = 1; n <= count; ++n) EXPECT_EQ(fieldAt(after, 125 + (n - 1) * 410, 5), std::to_string(n));
    EXPECT_FALSE(site.boardFileExists(1, "tmp.dat"));
}

TEST_F(DropPageRun, ErasingFromALargeBoardMovesEveryLaterRecordOnce) {
    // Large enough that the new index is written in several pieces.
    const int count = 2500;
    site.writeBoardFile(1, "guestbook.dat", indexOfMessages(count, 1));
    site.writeBoardFile(1, body(700), "body 700");
    EXPECT_EQ(pageOf(erase(700)), removedPage());
    std::string after = index();
    ASSERT_EQ(after.size(), 125u + (count - 1) * 410u);
    EXPECT_EQ(fieldAt(after, 10, 10), std::to_string(count - 1));
    for (int n : {1, 699, 700, 1024, 1025, 2048, count - 1}) {
        const std::size_t at = 125 + (n - 1) * 410u;
        EXPECT_EQ(fieldAt(after, at, 5), std::to_string(n)) << n;
        const int was = n < 700 ? n : n + 1;
        EXPECT_EQ(fieldAt(after, at + 115, 80), "Subject " + std::to_string(was)) << n;
    }
    EXPECT_FALSE(site.boardFileExists(1, body(700)));
}

TEST_F(DropPageRun, AShiftedIndexIsRefusedAsDamagedAndKept) {
    // Bytes put into the middle of the index (a CR/LF conversion): the
    // records after them no longer stand where their numbers say.
    for (std::size_t extra : {3u, 10u, 409u, 410u, 411u, 1000u}) {
        storeMessages(5);
        std::string shifted = index();
        shifted.insert(125 + 410 + 100, std::string(extra, '\r'));
        site.writeBoardFile(1, "guestbook.dat", shifted);
        // What any change's recovery leaves first: up to one record past
        // the count is taken for a post that died, and cut.
        std::string recovered = extra <= 410 ? shifted.substr(0, 125 + 5 * 410) : shifted;
        for (int n : {2, 3, 5, 1}) {
            CgiResult result = erase(n);
            EXPECT_EQ(result.status, 0) << extra << " " << n;
            std::string page = pageOf(result);
            EXPECT_NE(page.find("The index file " + site.boardDir(1) + "guestbook.dat is damaged!!!"), std::string::npos)
                << extra << " " << n << page;
            EXPECT_EQ(page.find("Successfully removed."), std::string::npos) << extra << " " << n;
            EXPECT_EQ(index(), recovered) << extra << " " << n;
            for (int k = 1; k <= 5; ++k) EXPECT_TRUE(site.boardFileExists(1, body(k))) << extra << " " << k;
            EXPECT_FALSE(site.boardFileExists(1, "tmp.dat"));
        }
    }
}
