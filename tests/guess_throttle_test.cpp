// Wrong passwords counted per client address: the programs shut a guessing
// address out, not the others; the record stays small, expires, and is
// never written through a link.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "board_files.h"
#include "cgi_runner.h"
#include "permission/guess_throttle.h"
#include "permission/password_check.h"
#include "scratch_site.h"

namespace {

// The throttle's own directory in a scratch site's BBS_DIR, as the site
// command makes it.
std::string makeStateDir(ScratchSite& site) {
    std::string state = site.bbsDir() + kThrottleDirName;
    ::mkdir(state.c_str(), 0755);
    return state;
}

class ThrottledSite : public ::testing::Test {
protected:
    void SetUp() override {
        site.writeStandardConfig();
        makeStateDir(site);
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(3, 1));
        for (int n = 1; n <= 3; ++n) site.writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "body");
    }
    std::string run(const std::string& program, int textNum, const std::string& form, const std::string& address) {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=" + std::to_string(textNum);
        request.body = form;
        request.env = {{"REMOTE_ADDR", address}};
        return pageOf(runCgi(program, site.cgiBin(), request));
    }
    std::string stateDir() { return site.bbsDir() + kThrottleDirName; }
    static bool denied(const std::string& page) { return page.find("Access denied.") != std::string::npos; }
    ScratchSite site;
};

const char kEdit[] = "name=Lee&email=&homepage=&subject=Edited&body=b&password=";

}  // namespace

TEST_F(ThrottledSite, TenWrongPasswordsShutOneAddressOut) {
    const std::string index = site.readBoardFile(1, "guestbook.dat");
    for (int i = 0; i < kGuessLimit - 1; ++i) EXPECT_TRUE(denied(run("DropPage", 3, "password=guess", "192.0.2.10")));
    // Nine: the right password still passes, and the count starts again.
    EXPECT_FALSE(denied(run("EditPage", 1, "password=secret", "192.0.2.10")));
    for (int i = 0; i < kGuessLimit; ++i) EXPECT_TRUE(denied(run("EditPage", 1, "password=guess", "192.0.2.10")));
    // Ten: shut out of all three, right password or not, and nothing changes.
    EXPECT_TRUE(denied(run("DropPage", 3, "password=secret", "192.0.2.10")));
    EXPECT_TRUE(denied(run("EditPage", 1, "password=secret", "192.0.2.10")));
    EXPECT_TRUE(denied(run("SavePage", 2, std::string(kEdit) + "secret", "192.0.2.10")));
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat"), index);
    // Another address is not affected.
    EXPECT_FALSE(denied(run("EditPage", 1, "password=secret", "192.0.2.11")));
    EXPECT_FALSE(denied(run("SavePage", 2, std::string(kEdit) + "secret", "192.0.2.11")));
    EXPECT_FALSE(denied(run("DropPage", 3, "password=secret", "192.0.2.11")));
    EXPECT_FALSE(site.boardFileExists(1, "guestbook3.html"));
    // The record lies beside the boards, in its own directory.
    EXPECT_NE(readFile(stateDir() + kThrottleName).find("192.0.2.10 "), std::string::npos);
}

TEST_F(ThrottledSite, SavePageEditGuessesCountToo) {
    for (int i = 0; i < kGuessLimit; ++i) EXPECT_TRUE(denied(run("SavePage", 2, std::string(kEdit) + "x", "2001:db8::1")));
    EXPECT_TRUE(denied(run("DropPage", 3, "password=secret", "2001:db8::1")));
    EXPECT_FALSE(denied(run("DropPage", 3, "password=secret", "2001:db8::2")));
}

TEST(GuessThrottle, ShutOutEndsAndWindowsExpire) {
    ScratchSite site;
    const std::string dir = site.bbsDir();
    const std::string state = makeStateDir(site);
    const std::time_t now = 1000000;
    for (int i = 0; i < kGuessLimit - 1; ++i) GuessThrottle(dir.c_str(), "a", now).record(false);
    // Nine wrong ones a window ago no longer count.
    GuessThrottle(dir.c_str(), "a", now + kGuessWindow).record(false);
    EXPECT_FALSE(GuessThrottle(dir.c_str(), "a", now + kGuessWindow).shutOut());
    for (int i = 0; i < kGuessLimit - 1; ++i) GuessThrottle(dir.c_str(), "a", now + kGuessWindow).record(false);
    EXPECT_TRUE(GuessThrottle(dir.c_str(), "a", now + kGuessWindow).shutOut());
    EXPECT_TRUE(GuessThrottle(dir.c_str(), "a", now + kGuessWindow + kGuessShutOut - 1).shutOut());
    EXPECT_FALSE(GuessThrottle(dir.c_str(), "a", now + kGuessWindow + kGuessShutOut).shutOut());
    EXPECT_FALSE(GuessThrottle(dir.c_str(), "b", now + kGuessWindow).shutOut());
}

TEST(GuessThrottle, RecordStaysBoundedAndKeepsTheShutOut) {
    ScratchSite site;
    const std::string dir = site.bbsDir();
    const std::string state = makeStateDir(site);
    const std::time_t now = 1000000;
    for (int i = 0; i < kGuessLimit; ++i) GuessThrottle(dir.c_str(), "guesser", now).record(false);
    for (int i = 0; i < kGuessEntries + 50; ++i) {
        GuessThrottle(dir.c_str(), ("10.0.0." + std::to_string(i)).c_str(), now + 1).record(false);
    }
    std::string text = readFile(state + kThrottleName);
    EXPECT_EQ(GuessThrottle::parse(text, now + 1).size(), static_cast<std::size_t>(kGuessEntries));
    EXPECT_LT(text.size(), 16u * 1024);
    EXPECT_TRUE(GuessThrottle(dir.c_str(), "guesser", now + 2).shutOut());
    // A damaged record counts as an empty one.
    writeFile(state + kThrottleName, "gesipan throttle 1\nguesser x y z\n\x01\x02");
    EXPECT_FALSE(GuessThrottle(dir.c_str(), "guesser", now + 2).shutOut());
    EXPECT_TRUE(GuessThrottle::parse("gesipan throttle 1\nguesser 3 5 7\n", 6).size() == 1);
}

TEST(GuessThrottle, NeverWritesThroughALink) {
    ScratchSite site;
    const std::string dir = site.bbsDir();
    const std::string state = makeStateDir(site);
    const std::string target = site.root() + "/target";
    writeFile(target, "gesipan throttle 1\n");
    ASSERT_EQ(::symlink(target.c_str(), (state + kThrottleName).c_str()), 0);
    GuessThrottle(dir.c_str(), "a", 1000).record(false);
    EXPECT_EQ(readFile(target), "gesipan throttle 1\n");
    ASSERT_EQ(::unlink((state + kThrottleName).c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), (state + kThrottleScratchName).c_str()), 0);
    GuessThrottle(dir.c_str(), "a", 1000).record(false);
    EXPECT_EQ(readFile(target), "gesipan throttle 1\n");
}

TEST(ClientAddress, KeptWithinWhatAnAddressHolds) {
    EXPECT_EQ(clientAddress("192.0.2.1"), "192.0.2.1");
    EXPECT_EQ(clientAddress("fe80::1%eth0 1 2 3\nforged 9 9 9"), "fe80::1%eth0");
    EXPECT_EQ(clientAddress(""), "unknown");
    EXPECT_EQ(clientAddress(nullptr), "unknown");
}

TEST(ChangePermission, ComparedFirstCountedOnce) {
    ScratchSite site;
    const std::string dir = site.bbsDir();
    const std::string state = makeStateDir(site);
    const std::string visitor = "192.0.2.99";
    const std::time_t now = std::time(nullptr);
    ChangePermission unasked;
    EXPECT_EQ(unasked.decide(), -1);
    ChangePermission wrong;
    wrong.compare(dir.c_str(), visitor, now, "guess", "secret");
    EXPECT_EQ(wrong.decide(), -1);
    EXPECT_EQ(wrong.decide(), -1);
    EXPECT_NE(readFile(state + kThrottleName).find("192.0.2.99 1 "), std::string::npos);
    ChangePermission right;
    right.compare(dir.c_str(), visitor, now, "secret", "secret");
    EXPECT_EQ(right.decide(), 1);
    EXPECT_EQ(readFile(state + kThrottleName).find("192.0.2.99"), std::string::npos);
    ChangePermission tooLong;
    tooLong.compare(dir.c_str(), visitor, now, nullptr, "secret");
    EXPECT_EQ(tooLong.decide(), -1);
}

TEST(GuessThrottle, WithoutItsDirectoryNothingIsCountedOrMade) {
    ScratchSite site;
    const std::string dir = site.bbsDir();
    for (int i = 0; i < kGuessLimit + 1; ++i) GuessThrottle(dir.c_str(), "a", 1000).record(false);
    EXPECT_FALSE(GuessThrottle(dir.c_str(), "a", 1000).shutOut());
    EXPECT_FALSE(fileExists(dir + kThrottleDirName));
    EXPECT_FALSE(fileExists(dir + kThrottleName));
    EXPECT_FALSE(fileExists(dir + kThrottleLockName));
}
