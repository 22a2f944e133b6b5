// A board's files against what stands in their way: a lock that cannot be
// had, symbolic links planted in the board directory, records naming files
// outside it, a configuration that breaks off, and board numbers that no
// configuration line names.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "board_check.h"
#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

const char kLocked[] = "The board is locked and cannot be changed now!!!";

class StoreSafety : public ::testing::Test {
protected:
    void SetUp() override {
        site.writeStandardConfig();
        dir = site.boardDir(1);
        writeBoard();
        outside = site.root() + "/outside";
        writeFile(outside, "not the board's");
    }
    static std::string body(int n) { return "guestbook" + std::to_string(n) + ".html"; }
    void writeBoard() {
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(5, 1));
        for (int n = 1; n <= 5; ++n) site.writeBoardFile(1, body(n), "body " + std::to_string(n));
    }
    CgiResult run(const std::string& program, const std::string& query, const std::string& form,
                  const std::vector<std::string>& launcher = {}) {
        CgiRequest request;
        request.query = query;
        request.body = form;
        request.launcher = launcher;
        request.programDir = PLAIN_PROGRAM_DIR;
        return runCgi(program, site.cgiBin(), request);
    }
    void plant(const std::string& name, const std::string& target) {
        ASSERT_EQ(::symlink(target.c_str(), (dir + name).c_str()), 0) << name;
    }
    static bool isLink(const std::string& path) {
        struct stat info;
        return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }
    // Every program against a board whose lock cannot be had.
    void expectLockRefusals(const std::vector<std::string>& launcher) {
        BoardSnapshot before = snapshotBoard(dir);
        CgiResult post = run("SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B", launcher);
        EXPECT_EQ(post.status, 1);
        EXPECT_NE(post.output.find(kLocked), std::string::npos);
        CgiResult erase = run("DropPage", "BoardNum=1&TextNum=2", "password=secret", launcher);
        EXPECT_EQ(erase.status, 1);
        EXPECT_NE(erase.output.find(kLocked), std::string::npos);
        EXPECT_NE(run("DropPage", "BoardNum=1&TextNum=2", "password=wrong", launcher).output.find("Access denied."),
                  std::string::npos);
        CgiResult view = run("ShowPage", "BoardNum=1&TextNum=2", "", launcher);
        EXPECT_EQ(view.status, 0);
        EXPECT_NE(view.output.find("<td>   0</td>"), std::string::npos) << "shown, not counted";
        EXPECT_NE(run("ListPage", "BoardNum=1&TextNum=0", "", launcher).output.find("Subject 5"), std::string::npos);
        EXPECT_NE(run("EditPage", "BoardNum=1&TextNum=2", "password=secret", launcher).output.find("Subject 2"),
                  std::string::npos);
        EXPECT_EQ(snapshotDifference(snapshotBoard(dir), before), "");
    }

    ScratchSite site;
    std::string dir;
    std::string outside;
};

TEST_F(StoreSafety, LockRefusedByTheFileSystem) {
    // ENOLCK: a network file system mounted without its lock manager.
    expectLockRefusals({"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e", "inject=fcntl:error=ENOLCK"});
}

TEST_F(StoreSafety, LockFileThatIsASymbolicLink) {
    plant("guestbook.lock", site.root() + "/planted-lock");
    expectLockRefusals({});
    EXPECT_FALSE(fileExists(site.root() + "/planted-lock"));
}

TEST_F(StoreSafety, NewFilesNeverGoThroughPlantedLinks) {
    // The next body file's name: the post replaces the link, not its target.
    plant(body(6), outside);
    EXPECT_EQ(run("SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=posted").status, 0);
    EXPECT_EQ(readFile(outside), "not the board's");
    EXPECT_FALSE(isLink(dir + body(6)));
    EXPECT_EQ(site.readBoardFile(1, body(6)), "posted");

    // Scratch names: a change that needs one is refused, and the link
    // stays as it was.
    const std::string erase = "password=secret";
    const std::string edit = "n=E&e=&h=&s=S&b=edited&password=secret";
    for (const auto& [scratch, program, query, form] :
         std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
             {"guestbook.new", "SavePage", "BoardNum=1&TextNum=2", edit},
             {"tmp.dat", "DropPage", "BoardNum=1&TextNum=1", erase},
             {"guestbook.redo.new", "SavePage", "BoardNum=1&TextNum=2", edit},
             {"guestbook.redo.new", "DropPage", "BoardNum=1&TextNum=6", erase}}) {
        SCOPED_TRACE(scratch + " " + program);
        plant(scratch, outside);
        BoardSnapshot before = snapshotBoard(dir);
        CgiResult result = run(program, query, form);
        EXPECT_EQ(result.output.find("Successfully removed."), std::string::npos);
        EXPECT_EQ(result.output.find("<caption>"), std::string::npos);
        EXPECT_EQ(snapshotDifference(snapshotBoard(dir), before), "");
        EXPECT_EQ(readFile(outside), "not the board's");
        EXPECT_TRUE(isLink(dir + scratch));
        ::unlink((dir + scratch).c_str());
    }
    // A link in the redo record's place is no record of ours: it is
    // replaced by the next commit, never read or followed.
    writeFile(site.root() + "/fake-redo", "gesipan redo 1\n");
    plant("guestbook.redo", site.root() + "/fake-redo");
    EXPECT_NE(run("DropPage", "BoardNum=1&TextNum=6", "password=secret").output.find("Successfully removed."),
              std::string::npos);
    EXPECT_EQ(readFile(site.root() + "/fake-redo"), "gesipan redo 1\n");
    EXPECT_EQ(boardProblems(dir), "");
}

TEST_F(StoreSafety, IndexThatIsASymbolicLinkIsNoIndex) {
    ::rename((dir + "guestbook.dat").c_str(), (site.root() + "/index").c_str());
    plant("guestbook.dat", site.root() + "/index");
    std::string index = readFile(site.root() + "/index");
    EXPECT_EQ(run("SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B").status, 1);
    EXPECT_EQ(run("ShowPage", "BoardNum=1&TextNum=1", "").status, 1);
    EXPECT_NE(run("DropPage", "BoardNum=1&TextNum=1", "password=secret").output.find("Can't open"), std::string::npos);
    EXPECT_EQ(run("ListPage", "BoardNum=1&TextNum=0", "").output.find("Subject"), std::string::npos);
    EXPECT_EQ(readFile(site.root() + "/index"), index);
    EXPECT_TRUE(isLink(dir + "guestbook.dat"));
}

TEST_F(StoreSafety, FileNamesOutsideTheBoardNameNoBody) {
    for (const std::string& name : {std::string("../../cgi-bin/GuestBook.conf"), site.cgiBin() + "/GuestBook.conf",
                                    std::string(".."), std::string("guestbook.dat")}) {
        SCOPED_TRACE(name);
        TestRecord record;
        record.textNum = 1;
        record.fileName = name;
        site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(record));
        CgiResult view = run("ShowPage", "BoardNum=1&TextNum=1", "");
        EXPECT_NE(view.output.find("is not found!!!"), std::string::npos);
        EXPECT_EQ(view.output.find("Password"), std::string::npos);
        CgiResult edit = run("EditPage", "BoardNum=1&TextNum=1", "password=secret");
        EXPECT_EQ(edit.status, 1);
        EXPECT_EQ(edit.output.find("Password"), std::string::npos);
        // The edit that would replace that file is refused; the erase takes
        // the record and leaves the file.
        EXPECT_EQ(run("SavePage", "BoardNum=1&TextNum=1", "n=E&e=&h=&s=S&b=x&password=secret").status, 1);
        EXPECT_NE(run("DropPage", "BoardNum=1&TextNum=1", "password=secret").output.find("Successfully removed."),
                  std::string::npos);
        EXPECT_TRUE(fileExists(site.cgiBin() + "/GuestBook.conf"));
        EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    }
}

TEST_F(StoreSafety, ConfigurationThatBreaksOffIsNoConfiguration) {
    BoardSnapshot before = snapshotBoard(dir);
    std::vector<std::string> readError = {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-P",
                                          site.cgiBin() + "/GuestBook.conf", "-e", "inject=read:error=EIO"};
    CgiResult post = run("SavePage", "BoardNum=1&TextNum=-1", "n=P&e=&h=&s=S&b=B", readError);
    EXPECT_EQ(post.status, 1);
    EXPECT_NE(post.output.find("Can't open 'GuestBook.conf'!!!"), std::string::npos);
    EXPECT_EQ(run("DropPage", "BoardNum=1&TextNum=1", "password=secret", readError).status, 1);
    EXPECT_EQ(snapshotDifference(snapshotBoard(dir), before), "");
    EXPECT_FALSE(fileExists(site.cgiBin() + "/guestbook.dat"));
}

TEST_F(StoreSafety, NumbersWithoutAConfigurationLineAreNoBoards) {
    for (const char* board : {"7", "0", "-1", "x", "9999"}) {
        SCOPED_TRACE(board);
        std::string query = std::string("BoardNum=") + board;
        CgiResult post = run("SavePage", query + "&TextNum=-1", "n=P&e=&h=&s=S&b=B");
        EXPECT_EQ(post.status, 1);
        EXPECT_NE(post.output.find("There is no board number like that!!!"), std::string::npos);
        EXPECT_NE(run("ListPage", query + "&TextNum=0", "").output.find("<html>"), std::string::npos);
        EXPECT_EQ(run("ShowPage", query + "&TextNum=1", "").status, 1);
        EXPECT_EQ(run("DropPage", query + "&TextNum=1", "password=secret").output.find("Successfully"),
                  std::string::npos);
        EXPECT_EQ(run("EditPage", query + "&TextNum=1", "password=secret").status, 1);
    }
    // Nothing was made for them anywhere: the programs' directory holds
    // only the configuration, the boards directory only board 1.
    EXPECT_EQ(snapshotBoard(site.cgiBin() + "/").size(), 1u);
    EXPECT_EQ(snapshotBoard(site.bbsDir()).size(), 1u);
}

}  // namespace

namespace {

// A network file system answers ESTALE when another host replaced the file
// between the lookup and the open or read; every other try fails here.
class StaleHandles : public StoreSafety {};

TEST_F(StaleHandles, OpensAndReadsAreTriedAgain) {
    for (const char* call : {"openat", "pread64", "read"}) {
        SCOPED_TRACE(call);
        writeBoard();
        // Only the board's files: the form and the configuration come from
        // no shared file system.
        std::vector<std::string> stale = {"/usr/bin/strace", "-qq", "-o", "/dev/null"};
        for (const char* name : {"guestbook.lock", "guestbook.redo", "guestbook.dat", "guestbook2.html",
                                 "guestbook3.html", "tmp.dat", "guestbook.new", "guestbook.redo.new"}) {
            stale.insert(stale.end(), {"-P", dir + name});
        }
        // A body is read to its end in a loop: one stale answer at its start.
        std::string when = std::string(call) == "read" ? "1" : "1+2";
        stale.insert(stale.end(), {"-e", std::string("inject=") + call + ":error=ESTALE:when=" + when});
        EXPECT_NE(run("ListPage", "BoardNum=1&TextNum=0", "", stale).output.find("Subject 5"), std::string::npos);
        CgiResult view = run("ShowPage", "BoardNum=1&TextNum=2", "", stale);
        EXPECT_NE(view.output.find("body 2"), std::string::npos);
        EXPECT_NE(run("EditPage", "BoardNum=1&TextNum=3", "password=secret", stale).output.find("body 3"),
                  std::string::npos);
        EXPECT_NE(run("DropPage", "BoardNum=1&TextNum=1", "password=secret", stale).output.find("Successfully removed."),
                  std::string::npos);
        EXPECT_EQ(boardProblems(dir), "");
    }
}

}  // namespace
