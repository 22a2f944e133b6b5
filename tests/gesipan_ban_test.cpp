// gesipan ban and unban: the list changes as a whole, keeps its owner,
// mode and the owner's own lines, and SavePage follows it at once.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

class GesipanBan : public ::testing::Test {
protected:
    void SetUp() override {
        site.boardDir(1);
        site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword secret\n"
                         "BAN_LIST ban.list\n1 title1.gif\n");
    }
    std::string listPath() const { return site.cgiBin() + "/ban.list"; }

    ToolResult tool(const std::string& args) { return runTool(site, args); }
    int postFrom(const std::string& address, const std::string& body = "hello") {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=-1";
        request.body = "name=Kim&email=&homepage=&subject=Hi&body=" + body;
        request.env = {{"REMOTE_ADDR", address}};
        return runCgi("SavePage", site.cgiBin(), request).status;
    }
    ScratchSite site;
};

}  // namespace

TEST_F(GesipanBan, BanAndUnbanChangeTheListAndThePostsFollow) {
    ToolResult made = tool("ban 192.0.2.7 2001:DB8::/32 Casino " + std::string(u8"카지노"));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(readFile(listPath()), std::string("192.0.2.7\n2001:db8::/32\nCasino\n") + u8"카지노" + "\n");
    EXPECT_EQ(postFrom("192.0.2.7"), 1);
    EXPECT_EQ(postFrom("2001:db8::1"), 1);
    EXPECT_EQ(postFrom("192.0.2.8", "a+CASINO+b"), 1);
    EXPECT_EQ(postFrom("192.0.2.8", "%C4%AB%C1%F6%B3%EB"), 1);
    EXPECT_EQ(postFrom("192.0.2.8"), 0);

    // The owner's own lines and mode stay; the same entry in another form is not added twice.
    writeFile(listPath(), "# mine\n192.0.2.7\ncasino\n");
    ::chmod(listPath().c_str(), 0640);
    ToolResult again = tool("ban casino ::ffff:192.0.2.7 198.51.100.0/24");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readFile(listPath()), "# mine\n192.0.2.7\ncasino\n198.51.100.0/24\n");
    struct stat info;
    ASSERT_EQ(::stat(listPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    ToolResult removed = tool("unban 192.0.2.7 CASINO");
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_EQ(readFile(listPath()), "# mine\n198.51.100.0/24\n");
    EXPECT_EQ(postFrom("192.0.2.7", "casino"), 0);
    EXPECT_EQ(postFrom("198.51.100.77"), 1);
    EXPECT_FALSE(fileExists(listPath() + ".new"));

    // As an editor may save it: a byte-order mark and CRLF line ends.
    writeFile(listPath(), "\xEF\xBB\xBF" "casino\r\n192.0.2.9\r\n# kept\r\n");
    EXPECT_EQ(postFrom("192.0.2.8", "casino"), 1);
    EXPECT_EQ(postFrom("192.0.2.9"), 1);
    ToolResult unbanned = tool("unban CASINO 192.0.2.9");
    EXPECT_EQ(unbanned.status, 0) << unbanned.err;
    EXPECT_EQ(readFile(listPath()), "# kept\r\n");
    EXPECT_EQ(postFrom("192.0.2.9", "casino"), 0);
}

TEST_F(GesipanBan, WhatCannotBeAnEntryChangesNothing) {
    writeFile(listPath(), "# mine\n");
    EXPECT_EQ(tool("ban").status, 2);
    EXPECT_EQ(tool("ban '#x'").status, 2);
    EXPECT_EQ(tool("ban " + std::string(u8"漢字")).status, 2) << "no word the posts could be compared with";
    EXPECT_EQ(readFile(listPath()), "# mine\n");
    // A link planted where the list stands is never written through.
    std::string target = site.root() + "/elsewhere";
    writeFile(target, "untouched\n");
    ::unlink(listPath().c_str());
    ASSERT_EQ(::symlink(target.c_str(), listPath().c_str()), 0);
    EXPECT_NE(tool("ban 192.0.2.1").status, 0);
    EXPECT_EQ(readFile(target), "untouched\n");
    site.writeConfig("BBS_DIR " + site.bbsDir() + "\n1 title1.gif\n");
    ToolResult none = tool("ban 192.0.2.1");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("BAN_LIST"), std::string::npos);
}
