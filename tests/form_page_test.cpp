// FormPage run as a CGI process: the compose form and the configuration errors.
#include <gtest/gtest.h>

#include <string>

#include "cgi_runner.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

std::string composeForm(int board, const std::string& title, const std::string& email) {
    return "<html>\n"
           "<head><title>게시판 버전 2.13</title></head>\n"
           "<body bgcolor=white>\n"
           "<center>\n"
           "<img src=/bbs/Image/" + title + " height=60 width=200 border=0>\n"
           "<table border=0 width=480 cellpading=0>\n"
           "<tr>\n"
           "<td valign=buttom>\n"
           "<img align=left border=0 src=/bbs/Image/bookpen.gif>\n"
           "<br>\n"
           "<img width=420 src=/bbs/Image/line_ani.gif>\n"
           "</td>\n"
           "</tr>\n"
           "</table>\n"
           "</center>\n"
           "<center>\n"
           "<form method=post action=/bbs/cgi-bin/SavePage.exe?BoardNum=" + std::to_string(board) + "&TextNum=-1>\n"
           "<table>\n"
           "<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18></td></tr>\n"
           "<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40></td></tr>\n"
           "<tr><td>Homepage</td><td><input type=text name=homepage value=\"http://\" size=60\n"
           "maxlength=60></td><tr>\n"
           "<tr><td>Subject</td><td><input type=text name=subject value=\"\" size=60 maxlength=60></td></tr>\n"
           "<tr><td>Comment</td><td><textarea type=text name=body cols=70 rows=10></textarea>\n"
           "</td></tr></table>\n"
           "<br>\n"
           "<center>\n"
           "<input type=submit value=\"글 올리기\">\n"
           "<input type=reset value=\"취소하기\">\n"
           "</center>\n"
           "</form>\n"
           "<br>\n"
           "</center>\n"
           "<p>\n"
           "<center>\n"
           "<img src=/bbs/Image/line.gif>\n"
           "<br>\n" +
           creditBlock() +
           "<a href=mailto:" + email + ">" + email + "</a></br>\n"
           "</font>\n"
           "</center>\n"
           "</body>\n"
           "</html>\n";
}

class FormPageRun : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }
    CgiResult run(const std::string& query) {
        CgiRequest request;
        request.query = query;
        return runCgi("FormPage", site.cgiBin(), request);
    }
    ScratchSite site;
};

}  // namespace

TEST_F(FormPageRun, PrintsTheComposeFormOfTheQueriedBoard) {
    CgiResult result = run("BoardNum=3&TextNum=7");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pageOf(result), composeForm(3, "title3.gif", "board3@example.org"));
    EXPECT_EQ(run("BoardNum=3").output, result.output);
}

TEST_F(FormPageRun, BoardComesFromTheFirstValueWhateverItsName) {
    EXPECT_EQ(pageOf(run("X=1")), composeForm(1, "title1.gif", "admin@example.org"));
    EXPECT_EQ(pageOf(run("5")), composeForm(0, "", "admin@example.org"));
    EXPECT_EQ(pageOf(run("")), composeForm(0, "", "admin@example.org"));
}

TEST_F(FormPageRun, PageTextsAreEucKr) {
    std::string page = pageOf(run("BoardNum=1"));
    // "게시판 버전" and "글 올리기" as EUC-KR bytes.
    EXPECT_NE(page.find("\xB0\xD4\xBD\xC3\xC6\xC7 \xB9\xF6\xC0\xFC 2.13"), std::string::npos);
    EXPECT_NE(page.find("\xB1\xDB \xBF\xC3\xB8\xAE\xB1\xE2"), std::string::npos);
}

TEST_F(FormPageRun, MissingConfigurationGivesTheErrorPageAndStatusOne) {
    site.removeConfig();
    CgiResult result = run("BoardNum=4&TextNum=2");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result), errorPage("", 4, kConfigMissing, ""));
}

TEST_F(FormPageRun, OverlongBoardDirectoryIsRefusedNotCut) {
    // 245 bytes of BBS_DIR and "1234567890/" make 256: one byte too many.
    std::string deep = "/" + std::string(243, 'd') + "/";
    site.writeConfig("BASE_DIR /bbs/\nEMAIL a@b\nBBS_DIR " + deep + "\n1234567890 t.gif\n");
    CgiResult result = run("BoardNum=1234567890");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(pageOf(result),
              errorPage("/bbs/", 1234567890,
                        "<font color=228b22 size=3>The board directory in 'GuestBook.conf' is too long!!!</font><br>",
                        "a@b"));
}
