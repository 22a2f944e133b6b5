// A change made while a request is served is committed before its page goes
// out and carried out after, with the board's lock held until then; work
// that never runs costs only that the next lock holder finishes it.
// Outside a request (the operator's tool) the change is carried out at once.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "board_check.h"
#include "board_files.h"
#include "store/board_store.h"
#include "cgi_runner.h"
#include "page/response.h"
#include "scratch_site.h"

namespace {

class AfterResponse : public ::testing::Test {
protected:
    void SetUp() override {
        for (ScratchSite* site : {&site_, &twin_}) {
            site->writeStandardConfig();
            site->writeBoardFile(1, "guestbook.dat", indexOfMessages(5, 1));
            for (int n = 1; n <= 5; ++n) site->writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "body");
        }
        dir_ = site_.boardDir(1);
        before_ = snapshotBoard(dir_);
        // The same erase on the twin, outside any request.
        BoardStore store(twin_.boardDir(1).c_str());
        EXPECT_EQ(erase(store), StoreResult::Done);
        EXPECT_FALSE(twin_.boardFileExists(1, "guestbook.redo")) << "carried out at once";
        after_ = snapshotBoard(twin_.boardDir(1));
        EXPECT_NE(snapshotDifference(before_, after_), "");
    }

    static StoreResult erase(BoardStore& store) {
        char header[125];
        char erased[410];
        if (store.lockForChange() != StoreResult::Done || store.ReadHeader(header) != StoreResult::Done) {
            return StoreResult::Failed;
        }
        return store.RemoveRecord(2, erased);
    }

    // The erase as a page makes it, into `response`.
    void eraseInRequest(Response& response) {
        BoardStore store(dir_.c_str(), BoardStore::AfterCommit::ByCaller);
        ASSERT_EQ(erase(store), StoreResult::Done);
        response.deferAfterSending(store.takeCommittedChange());
    }

    // Whether another process would find the board's lock taken.
    bool lockTaken() {
        pid_t child = ::fork();
        if (child == 0) {
            int fd = ::open((dir_ + "guestbook.lock").c_str(), O_RDONLY);
            struct flock probe = {};
            probe.l_type = F_WRLCK;
            probe.l_whence = SEEK_SET;
            if (fd < 0 || ::fcntl(fd, F_GETLK, &probe) != 0) ::_exit(2);
            ::_exit(probe.l_type == F_UNLCK ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2);
        return WIFEXITED(status) && WEXITSTATUS(status) == 1;
    }

    // The board but the commit: the record and the new index it renames.
    BoardSnapshot withoutCommit() {
        BoardSnapshot now = snapshotBoard(dir_);
        EXPECT_EQ(now.erase("guestbook.redo") + now.erase("tmp.dat"), 2u);
        return now;
    }

    ScratchSite site_;
    ScratchSite twin_;
    std::string dir_;
    BoardSnapshot before_;
    BoardSnapshot after_;
};

TEST_F(AfterResponse, TheChangeFollowsTheResponseUnderTheLock) {
    Response response;
    eraseInRequest(response);
    // Committed, not yet carried out, and no one else may look until it is.
    EXPECT_EQ(snapshotDifference(withoutCommit(), before_), "");
    EXPECT_TRUE(lockTaken());

    response.runAfterSending();
    EXPECT_FALSE(lockTaken());
    EXPECT_EQ(snapshotDifference(snapshotBoard(dir_), after_), "");
    EXPECT_EQ(boardProblems(dir_), "");
    // Run once: nothing is left to run a second time.
    response.runAfterSending();
    EXPECT_EQ(snapshotDifference(snapshotBoard(dir_), after_), "");
}

TEST_F(AfterResponse, WorkNeverRunIsFinishedByTheNextLockHolder) {
    {
        Response response;
        eraseInRequest(response);
    }
    // Dropped with its response: the lock with it, the commit stays.
    EXPECT_FALSE(lockTaken());
    EXPECT_TRUE(site_.boardFileExists(1, "guestbook.redo"));

    // A reader sees the change, and finishes it for everyone.
    CgiRequest request;
    request.query = "BoardNum=1&TextNum=0";
    CgiRequest twinRequest = request;
    EXPECT_EQ(runCgi("ListPage", site_.cgiBin(), request).output,
              runCgi("ListPage", twin_.cgiBin(), twinRequest).output);
    EXPECT_EQ(snapshotDifference(snapshotBoard(dir_), after_), "");
    EXPECT_EQ(boardProblems(dir_), "");
}

}  // namespace

// As lighttpd does: SIGTERM the moment the page's standard output ends. The
// program finishes its committed change all the same, every time; strace
// holds it for a while right after it lets its standard output go, where
// an end would find it soonest.
TEST(AfterResponseOfACgiProgram, AnEndSentAsThePageClosesStillLetsTheChangeFinish) {
    ScratchSite site;
    site.writeStandardConfig();
    site.boardDir(1);
    const std::string body = "name=n&email=&homepage=&subject=s&body=b";
    const std::string length = "CONTENT_LENGTH=" + std::to_string(body.size());
    for (int post = 1; post <= 5; ++post) {
        int in[2];
        int out[2];
        ASSERT_EQ(::pipe(in), 0);
        ASSERT_EQ(::pipe(out), 0);
        pid_t child = ::fork();
        if (child == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
            if (::chdir(site.cgiBin().c_str()) != 0) ::_exit(127);
            const std::string program = programPath("SavePage");
            // -D: strace out of the way, the program keeps this process's id.
            const char* argv[] = {"/usr/bin/strace", "-D", "-qq", "-o", "/dev/null", "-e", "trace=dup2",
                                  "-e", "inject=dup2:delay_exit=300000", program.c_str(), nullptr};
            char* env[] = {const_cast<char*>("QUERY_STRING=BoardNum=1&TextNum=-1"), const_cast<char*>(length.c_str()),
                           const_cast<char*>("REQUEST_METHOD=POST"), nullptr};
            ::execve(argv[0], const_cast<char**>(argv), env);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ASSERT_EQ(::write(in[1], body.data(), body.size()), static_cast<ssize_t>(body.size()));
        ::close(in[1]);
        char chunk[4096];
        while (::read(out[0], chunk, sizeof chunk) > 0) {
        }
        ::kill(child, SIGTERM);
        ::close(out[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_FALSE(site.boardFileExists(1, "guestbook.redo")) << "post " << post;
        // TextCount, the header's second field: the post counted.
        EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 10, 10), std::to_string(post)) << "post " << post;
    }
}
