// The configuration file: the line and word rules and the fields they fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "config/site_config.h"
#include "config/config_lines.h"
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

// Reads `text` for board `board` in a scratch working directory.
class ConfigFile : public ::testing::Test {
protected:
    void read(const std::string& text, int board) {
        site.writeConfig(text);
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(site.cgiBin().c_str()), 0);
        config = readSiteConfig();
        page = config.board(board);
        ASSERT_EQ(chdir(previous), 0);
    }
    ScratchSite site;
    SiteConfig config;
    BoardSettings page;
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
    EXPECT_STREQ(config.baseDir.c_str(), "http://host/bbs/");
    EXPECT_STREQ(config.password.c_str(), "pass word");
    EXPECT_STREQ(page.titleImage.c_str(), "title3.gif");
    EXPECT_STREQ(page.email.c_str(), "board3@host");
    EXPECT_STREQ(page.dir.c_str(), "/srv/boards/3/");
    EXPECT_EQ(config.status, SiteConfig::Status::Read);
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
    EXPECT_STREQ(page.email.c_str(), "a # b");
    EXPECT_STREQ(page.titleImage.c_str(), "t2.gif");
    EXPECT_STREQ(config.baseDir.c_str(), "");
    EXPECT_STREQ(config.eraseDomain.c_str(), "x y");
}

TEST_F(ConfigFile, BoardLineBeforeBbsDirAndNegativeBoards) {
    read("-1 minus.gif\nBBS_DIR /late/\nEMAIL\n", -1);
    EXPECT_STREQ(page.dir.c_str(), "-1/");
    EXPECT_STREQ(page.titleImage.c_str(), "minus.gif");
    EXPECT_STREQ(page.email.c_str(), "");
}

TEST_F(ConfigFile, LastLineWithoutNewlineHasNoEffectAndCrLfWorks) {
    read("BASE_DIR /a/\r\nBBS_DIR /d/\r\n2 two.gif\r\nEMAIL last@host", 2);
    EXPECT_STREQ(config.baseDir.c_str(), "/a/");
    EXPECT_STREQ(page.dir.c_str(), "/d/2/");
    EXPECT_STREQ(page.email.c_str(), "");
}

TEST_F(ConfigFile, NoLineForTheBoard) {
    read("BBS_DIR /d/\n1 one.gif\n", 7);
    EXPECT_STREQ(page.dir.c_str(), "");
    EXPECT_STREQ(page.titleImage.c_str(), "");
}

TEST_F(ConfigFile, OverlongLineValuesStayInTheirFields) {
    std::string longValue(600, 'v');
    read("EMAIL " + longValue + "\nPassword p\n", 1);
    EXPECT_EQ(std::string(page.email.c_str()), std::string(249, 'v'));
    EXPECT_STREQ(config.password.c_str(), "p");
}

// The responder's configuration: kept while the file is unchanged and
// settled, read again after any change, a failed read never kept.
TEST(SiteConfigCache, ReadsAgainOnlyWhenTheFileChanged) {
    ScratchSite site;
    const std::string path = site.cgiBin() + "/GuestBook.conf";
    SiteConfigCache cache(path);
    EXPECT_EQ(cache.current().status, SiteConfig::Status::CannotOpen);
    site.writeConfig("EMAIL a@x\n1 one.gif\n");
    EXPECT_EQ(cache.current().board(1).email, "a@x") << "a missing file is not kept";
    // An edit of the same size at once is seen, however close in time.
    site.writeConfig("EMAIL b@x\n1 one.gif\n");
    EXPECT_EQ(cache.current().board(1).email, "b@x");
    // Replaced by a rename, as the operator's tool does.
    writeFile(path + ".new", "EMAIL c@x\n1 two.gif\n");
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    EXPECT_EQ(cache.current().board(1).titleImage, "two.gif");
    // Once the file has settled, unchanged it is not read again.
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    while (std::time(nullptr) - std::max(info.st_mtim.tv_sec, info.st_ctim.tv_sec) < 3) usleep(100 * 1000);
    cache.current();
    const int reads = cache.reads();
    for (int k = 0; k < 5; ++k) EXPECT_EQ(cache.current().board(1).email, "c@x");
    EXPECT_EQ(cache.reads(), reads);
    site.writeConfig("EMAIL d@x\n1 two.gif\n");
    EXPECT_EQ(cache.current().board(1).email, "d@x");
    EXPECT_EQ(cache.reads(), reads + 1);
}
