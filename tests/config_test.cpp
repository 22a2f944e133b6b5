// The configuration file: the line and word rules and the fields they fill.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "page/cgi_page.h"
#include "site/config_lines.h"
#include "scratch_site.h"

namespace {

// Every line readLine gives for `text`, with a '$' after each line that met the end.
std::vector<std::string> linesOf(const std::string& text, int size = 256) {
    std::FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ConfigLineReader reader;
    std::vector<std::string> lines;
    std::vector<char> line(static_cast<std::size_t>(size));
    for (int atEnd = 0; !atEnd;) {
        atEnd = reader.readLine(line.data(), size, in);
        lines.push_back(std::string(line.data()) + (atEnd ? "$" : ""));
    }
    std::fclose(in);
    return lines;
}

std::string word(std::string& line) {
    char taken[256];
    ConfigLineReader reader;
    reader.takeWord(taken, sizeof taken, line.data());
    line = line.c_str();
    return taken;
}

// Reads `config` for board `board` in a scratch working directory.
class ConfigFile : public ::testing::Test {
protected:
    void read(const std::string& config, int board) {
        site.writeConfig(config);
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(site.cgiBin().c_str()), 0);
        page.boardNum = board;
        page.readConfig();
        ASSERT_EQ(chdir(previous), 0);
    }
    ScratchSite site;
    Request request;
    CgiPage page{request};
    // A refused configuration prints the error page.
    Response response;
    OutputBinding binding{response};
};

}  // namespace

TEST(ConfigLines, BlanksAreFoldedAndTrimmed) {
    EXPECT_EQ(linesOf("   EMAIL a    b \nx\t\ty\t\n"), (std::vector<std::string>{"EMAIL a b", "x\ty\t", "$"}));
}

TEST(ConfigLines, CrLfLinesLoseTheirCarriageReturn) {
    EXPECT_EQ(linesOf("EMAIL a\r\nBASE_DIR /x/ \r\n"), (std::vector<std::string>{"EMAIL a", "BASE_DIR /x/", "$"}));
}

TEST(ConfigLines, LastLineWithoutNewlineMeetsTheEnd) {
    EXPECT_EQ(linesOf("a\nb"), (std::vector<std::string>{"a", "b$"}));
}

TEST(ConfigLines, LongLinesAreCutAndTheRestReadOnItsOwn) {
    // Buffer of 8: seven bytes kept, the eighth dropped, the rest a new line.
    EXPECT_EQ(linesOf("abcdefghijk\n", 8), (std::vector<std::string>{"abcdefg", "ijk", "$"}));
}

TEST(ConfigWords, BackslashRule) {
    std::string line = "3 my\\ title.gif   mail@x";
    EXPECT_EQ(word(line), "3");
    EXPECT_EQ(line, "my\\ title.gif   mail@x");
    EXPECT_EQ(word(line), "my title.gif");
    EXPECT_EQ(word(line), "mail@x");
    EXPECT_EQ(word(line), "");
    std::string one = "a\\b.gif";
    EXPECT_EQ(word(one), "ab.gif");
    std::string two = "a\\\\b.gif";
    EXPECT_EQ(word(two), "ab.gif");
    // EUC-KR bytes are never white space.
    std::string korean = "\xB0\xA0\x85 x";
    EXPECT_EQ(word(korean), "\xB0\xA0\x85");
}

TEST_F(ConfigFile, WorkedExample) {
    read("# boards\n"
         "\n"
         "BASE_DIR http://host/bbs/\n"
         "BBS_DIR /srv/boards/\n"
         "EMAIL admin@host\n"
         "Password pass word\n"
         "1 title1.gif\n"
         "3 title3.gif board3@host\n"
         "03 other.gif\n",
         3);
    EXPECT_STREQ(page.getBaseDir(), "http://host/bbs/");
    EXPECT_STREQ(page.getPassword(), "pass word");
    EXPECT_STREQ(page.getTitleImage(), "title3.gif");
    EXPECT_STREQ(page.getEmail(), "board3@host");
    EXPECT_STREQ(page.getBoardDir(), "/srv/boards/3/");
    EXPECT_EQ(page.stream, nullptr);
}

TEST_F(ConfigFile, LaterLinesWinAndValuesKeepTheirText) {
    read("BBS_DIR /b/\n"
         "3 t.gif own@host\n"
         "EMAIL a # b\n"
         "3 t2.gif\n"
         "base_dir ignored\n"
         "   # note\n"
         "ERASE_DOMAIN x   y\n",
         3);
    EXPECT_STREQ(page.getEmail(), "a # b");
    EXPECT_STREQ(page.getTitleImage(), "t2.gif");
    EXPECT_STREQ(page.getBaseDir(), "");
    EXPECT_STREQ(page.eraseDomain, "x y");
}

TEST_F(ConfigFile, BoardLineBeforeBbsDirAndNegativeBoards) {
    read("-1 minus.gif\nBBS_DIR /late/\nEMAIL\n", -1);
    EXPECT_STREQ(page.getBoardDir(), "-1/");
    EXPECT_STREQ(page.getTitleImage(), "minus.gif");
    EXPECT_STREQ(page.getEmail(), "");
}

TEST_F(ConfigFile, LastLineWithoutNewlineHasNoEffectAndCrLfWorks) {
    read("BASE_DIR /a/\r\nBBS_DIR /d/\r\n2 two.gif\r\nEMAIL last@host", 2);
    EXPECT_STREQ(page.getBaseDir(), "/a/");
    EXPECT_STREQ(page.getBoardDir(), "/d/2/");
    EXPECT_STREQ(page.getEmail(), "");
}

TEST_F(ConfigFile, NoLineForTheBoard) {
    read("BBS_DIR /d/\n1 one.gif\n", 7);
    EXPECT_STREQ(page.getBoardDir(), "");
    EXPECT_STREQ(page.getTitleImage(), "");
}

TEST_F(ConfigFile, OverlongLineValuesStayInTheirFields) {
    std::string longValue(600, 'v');
    read("EMAIL " + longValue + "\nPassword p\n", 1);
    EXPECT_EQ(std::string(page.getEmail()), std::string(249, 'v'));
    EXPECT_STREQ(page.getPassword(), "p");
}
