// The operator's tool run as a process: check and repair on each kind of
// damage a board can carry, export and import, and the password it sets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

class GesipanRun : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }

    ToolResult tool(const std::string& args, const std::string& input = "") { return runTool(site, args, input); }

    void storeMessages(int count) {
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(count, 1));
        for (int n = 1; n <= count; ++n) site.writeBoardFile(1, body(n), "body " + std::to_string(n));
    }
    static std::string body(int n) { return "guestbook" + std::to_string(n) + ".html"; }
    static std::string record(const std::string& index, int n) { return index.substr(125 + 410 * (n - 1), 410); }

    // The subjects ListPage shows on board 1, in the order it shows them.
    std::vector<std::string> listed() {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=0";
        std::string page = pageOf(runCgi("ListPage", site.cgiBin(), request));
        std::vector<std::string> subjects;
        std::regex subject("Subject [0-9]+");
        for (auto it = std::sregex_iterator(page.begin(), page.end(), subject); it != std::sregex_iterator(); ++it) {
            subjects.push_back(it->str());
        }
        return subjects;
    }

    // check finds `problem`, repair mends the board, check is then content.
    void expectMended(const std::string& problem, const std::vector<std::string>& subjects,
                      const std::string& repairArgs = "repair 1") {
        ToolResult before = tool("check 1");
        EXPECT_EQ(before.status, 1) << before.out << before.err;
        EXPECT_NE(before.out.find("board 1: " + problem), std::string::npos) << before.out;
        ToolResult repaired = tool(repairArgs);
        EXPECT_EQ(repaired.status, 0) << repaired.out << repaired.err;
        EXPECT_NE(repaired.out.find("board 1: found: " + problem), std::string::npos) << repaired.out;
        ToolResult after = tool("check 1");
        EXPECT_EQ(after.status, 0) << after.out;
        EXPECT_EQ(after.out, "board 1: ok, " + std::to_string(subjects.size()) + " messages\n");
        EXPECT_EQ(listed(), subjects);
    }

    ScratchSite site;
};

const std::vector<std::string> kThreeNewestFirst = {"Subject 3", "Subject 2", "Subject 1"};

}  // namespace

TEST_F(GesipanRun, SoundBoardsAndUsage) {
    storeMessages(3);
    // A configured board without a directory cannot take a post.
    ToolResult check = tool("check");
    EXPECT_EQ(check.status, 1) << check.out << check.err;
    EXPECT_NE(check.out.find("board 2: no board directory " + site.bbsDir() + "2/\n"), std::string::npos);
    site.boardDir(2);
    site.boardDir(3);
    check = tool("check");
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_EQ(check.out, "board 1: ok, 3 messages\nboard 2: ok, 0 messages\nboard 3: ok, 0 messages\n");
    EXPECT_EQ(tool("check 4").status, 2);
    EXPECT_EQ(tool("check x").status, 2);
    EXPECT_EQ(tool("frobnicate").status, 2);
    EXPECT_EQ(tool("export").status, 2);
    EXPECT_EQ(tool("check --orphans 1").status, 2);
    site.removeConfig();
    EXPECT_EQ(tool("check 1").status, 2);
}

// The tool names the release the pages print in their title.
TEST_F(GesipanRun, VersionIsThePages) {
    CgiRequest request;
    request.query = "BoardNum=1&TextNum=0";
    std::string page = pageOf(runCgi("ListPage", site.cgiBin(), request));
    std::smatch title;
    ASSERT_TRUE(std::regex_search(page, title, std::regex("<title>[^<]* ([0-9]+\\.[0-9]+)</title>"))) << page;
    for (const char* args : {"--version", "--conf nowhere.conf --version"}) {
        ToolResult version = tool(args);
        EXPECT_EQ(version.status, 0) << args << version.err;
        EXPECT_EQ(version.out, "gesipan " + title[1].str() + "\n") << args;
    }
}

TEST_F(GesipanRun, StaleLastSlotOfTheOlderErase) {
    // The older program erased message 2 of 4 and could not replace the
    // index: 3 and 4 moved up, the last slot still holds record 4.
    storeMessages(4);
    std::string index = indexOfMessages(4, 1);
    std::string moved3 = record(index, 3);
    std::string moved4 = record(index, 4);
    moved3.replace(0, 1, "2");
    moved4.replace(0, 1, "3");
    std::string damaged = headerBytes(4, 3, 1) + record(index, 1) + moved3 + moved4 + record(index, 4);
    site.writeBoardFile(1, "guestbook.dat", damaged);
    ::unlink((site.boardDir(1) + body(2)).c_str());
    expectMended("record 4: a stale copy of record 3", {"Subject 4", "Subject 3", "Subject 1"});
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat").size(), 125u + 3 * 410);
}

TEST_F(GesipanRun, StaleCopyWithAPostAfterIt) {
    // The same, and then a post appended after the stale slot.
    storeMessages(4);
    std::string index = indexOfMessages(5, 1);
    std::string moved3 = record(index, 3);
    std::string moved4 = record(index, 4);
    std::string later = record(index, 5);
    moved3.replace(0, 1, "2");
    moved4.replace(0, 1, "3");
    later.replace(0, 1, "4");
    site.writeBoardFile(1, "guestbook.dat", headerBytes(5, 4, 1) + record(index, 1) + moved3 + moved4 +
                                                record(index, 4) + later);
    ::unlink((site.boardDir(1) + body(2)).c_str());
    site.writeBoardFile(1, body(5), "body 5");
    // A view's recovery must not take the later post for an uncommitted one.
    CgiRequest show;
    show.query = "BoardNum=1&TextNum=1";
    EXPECT_EQ(runCgi("ShowPage", site.cgiBin(), show).status, 0);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat").size(), 125u + 5 * 410);
    expectMended("record 4: a stale copy of record 3", {"Subject 5", "Subject 4", "Subject 3", "Subject 1"});
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 125 + 3 * 410, 5), "4");
}

TEST_F(GesipanRun, TextNumNotItsPosition) {
    storeMessages(3);
    std::string index = site.readBoardFile(1, "guestbook.dat");
    index.replace(125 + 410, 2, "7\0", 2);
    site.writeBoardFile(1, "guestbook.dat", index);
    expectMended("record 2: TextNum \"7\", not its position", kThreeNewestFirst);
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 125 + 410, 5), "2");
}

TEST_F(GesipanRun, CountAboveTheRecords) {
    storeMessages(3);
    std::string index = site.readBoardFile(1, "guestbook.dat");
    index.replace(0, 125, headerBytes(5, 5, 1));
    site.writeBoardFile(1, "guestbook.dat", index);
    expectMended("guestbook.dat: TextCount \"5\" but 3 whole records", kThreeNewestFirst);
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 10, 10), "3");
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 0, 10), "5");  // serials are never taken back
}

TEST_F(GesipanRun, RecordCutShort) {
    // A post of the older program died while appending its record.
    storeMessages(3);
    std::string index = indexOfMessages(4, 1).substr(0, 125 + 3 * 410 + 200);
    site.writeBoardFile(1, "guestbook.dat", index);
    expectMended("guestbook.dat: 200 bytes of a record cut short after record 3", kThreeNewestFirst);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat").size(), 125u + 3 * 410);
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 0, 10), "4");
}

TEST_F(GesipanRun, ACommittedRecordCutShortKeepsWhatCanBeMatched) {
    // A power cut lost the end of the last record after its post was
    // counted; its body file is there.
    const std::string whole = indexOfMessages(4, 1);
    for (std::size_t left = 10; left < 410; left += 10) {
        SCOPED_TRACE(left);
        storeMessages(4);
        site.writeBoardFile(1, "guestbook.dat", whole.substr(0, 125 + 3 * 410 + left));
        const std::string problem = "guestbook.dat: " + std::to_string(left) + " bytes of a record cut short after record 3";
        ToolResult repaired = tool("repair --orphans 1");
        EXPECT_EQ(repaired.status, 0) << repaired.out;
        EXPECT_NE(repaired.out.find("board 1: found: " + problem), std::string::npos) << repaired.out;
        const std::string index = site.readBoardFile(1, "guestbook.dat");
        if (left >= 310) {
            // Number and texts whole, the name from the one body file that follows.
            EXPECT_NE(repaired.out.find("kept as record 4 with body file guestbook4.html"), std::string::npos) << repaired.out;
            EXPECT_EQ(listed(), (std::vector<std::string>{"Subject 4", "Subject 3", "Subject 2", "Subject 1"}));
            ASSERT_EQ(index.size(), 125u + 4 * 410);
            EXPECT_EQ(record(index, 4).substr(0, 310), record(whole, 4).substr(0, 310));
            EXPECT_EQ(fieldAt(index, 125 + 3 * 410 + 310, 100), "guestbook4.html");
            EXPECT_EQ(site.readBoardFile(1, body(4)), "body 4");
        } else {
            EXPECT_NE(repaired.out.find("dropped: its texts are cut (" + std::to_string(left) + " of the 310"),
                      std::string::npos)
                << repaired.out;
            EXPECT_EQ(listed(), kThreeNewestFirst);
            EXPECT_EQ(index.size(), 125u + 3 * 410);
            EXPECT_EQ(site.readBoardFile(1, "orphan-" + body(4)), "body 4");
        }
        EXPECT_EQ(tool("check 1").status, 0);
        for (const std::string& name : {std::string("guestbook.dat"), "orphan-" + body(4), body(4)}) {
            ::unlink((site.boardDir(1) + name).c_str());
        }
    }
}

TEST_F(GesipanRun, ACutRecordIsNotGivenABodyThatCannotBeMatched) {
    const std::string whole = indexOfMessages(4, 1);
    const std::string cut = whole.substr(0, 125 + 3 * 410 + 320);
    struct Case {
        const char* what;
        std::string index;
        std::vector<std::string> extraBodies;
        bool bodyFour;
        const char* why;
    };
    std::string uncounted = cut;
    uncounted.replace(10, 2, "3\0", 2);
    std::string wrongName = cut;
    wrongName.replace(125 + 3 * 410 + 310, 10, "guestbook5");
    const std::vector<Case> cases = {
        {"not counted", uncounted, {}, true, "mended by the store's recovery: guestbook.dat: 320 bytes of a record cut short"},
        {"no body file", cut, {}, false, "no body file that no record names follows the others"},
        {"two candidates", cut, {body(5)}, true, "2 body files could be its own"},
        {"another name", wrongName, {}, true, "what is left of its FileName is not guestbook4.html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        storeMessages(3);
        if (c.bodyFour) site.writeBoardFile(1, body(4), "body 4");
        for (const std::string& extra : c.extraBodies) site.writeBoardFile(1, extra, "extra");
        site.writeBoardFile(1, "guestbook.dat", c.index);
        ToolResult repaired = tool("repair 1");
        EXPECT_NE(repaired.out.find(c.why), std::string::npos) << repaired.out;
        EXPECT_EQ(listed(), kThreeNewestFirst);
        for (const std::string& name : {body(4), body(5)}) ::unlink((site.boardDir(1) + name).c_str());
    }
}

TEST_F(GesipanRun, BodyFileMissingGetsAnEmptyOne) {
    storeMessages(3);
    ::unlink((site.boardDir(1) + body(2)).c_str());
    expectMended("record 2: body file guestbook2.html is missing", kThreeNewestFirst);
    EXPECT_TRUE(site.boardFileExists(1, body(2)));
    EXPECT_EQ(site.readBoardFile(1, body(2)), "");
    EXPECT_EQ(site.readBoardFile(1, body(1)), "body 1");
    CgiRequest show;
    show.query = "BoardNum=1&TextNum=2";
    EXPECT_EQ(runCgi("ShowPage", site.cgiBin(), show).status, 0);
}

TEST_F(GesipanRun, StoredBytesNeverReachTheTerminalNorNameAFile) {
    // What a misaligned index shows in its fields: a visitor's subject bytes.
    std::string index = headerBytes(3, 3, 1);
    index.replace(10, 10, std::string("\x1b[2J\0\0\0\0\0\0", 10));  // TextCount
    TestRecord fine;
    fine.fileName = body(1);
    TestRecord named;
    named.textNum = 2;
    named.fileName = "\x1b]0;owned\x07";
    TestRecord numbered;
    numbered.textNum = 3;
    numbered.fileName = "\x1b[8m\xff.html";
    std::string third = recordBytes(numbered);
    third.replace(0, 5, std::string("\x1b[8m", 4) + '\0');  // TextNum
    site.writeBoardFile(1, "guestbook.dat", index + recordBytes(fine) + recordBytes(named) + third);
    site.writeBoardFile(1, body(1), "body 1");
    struct Case {
        const char* command;
        const char* out;  // what it says, escaped
    };
    const Case cases[] = {
        {"check 1", "board 1: record 2: body file \\u001b]0;owned\\u0007 is missing\n"},
        {"repair 1", "board 1: repaired: record 3: body file guestbook5.html created empty\n"},
        {"check 1", "board 1: ok, 3 messages\n"},
    };
    for (const Case& c : cases) {
        ToolResult result = tool(c.command);
        EXPECT_EQ((result.out + result.err).find_first_of("\x1b\x07\xff"), std::string::npos)
            << c.command << ": " << result.out << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.command << ": " << result.out;
    }
    // Every file in the board is one of the board's own names.
    const std::regex own("guestbook([0-9]+\\.html|\\.dat|\\.lock)");
    for (const auto& entry : std::filesystem::directory_iterator(site.boardDir(1))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(std::regex_match(name, own)) << name;
    }
}

TEST_F(GesipanRun, BodyFileLeftOverMovedAsideOnlyWhenAsked) {
    storeMessages(3);
    site.writeBoardFile(1, "guestbook9.html", "an erased message");
    ToolResult check = tool("check 1");
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("board 1: guestbook9.html: a body file that no record names"), std::string::npos);
    EXPECT_NE(check.out.find("board 1: guestbook.dat: FileSerial 3 below body file serial 9"), std::string::npos);
    ToolResult kept = tool("repair 1");
    EXPECT_EQ(kept.status, 1) << kept.out;
    EXPECT_NE(kept.out.find("board 1: left: guestbook9.html: a body file that no record names"), std::string::npos);
    EXPECT_EQ(site.readBoardFile(1, "guestbook9.html"), "an erased message");
    // The next post must not take the leftover's name.
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 0, 10), "9");
    expectMended("guestbook9.html: a body file that no record names", kThreeNewestFirst, "repair --orphans 1");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook9.html"));
    EXPECT_EQ(site.readBoardFile(1, "orphan-guestbook9.html"), "an erased message");
}

TEST_F(GesipanRun, ScratchFileLeftBehind) {
    storeMessages(3);
    site.writeBoardFile(1, "tmp.dat", "half an erase");
    expectMended("tmp.dat: left behind by a change that did not finish", kThreeNewestFirst);
    EXPECT_FALSE(site.boardFileExists(1, "tmp.dat"));
}

TEST_F(GesipanRun, EveryDamageAtOnce) {
    storeMessages(5);
    std::string index = indexOfMessages(5, 1);
    std::string damaged = headerBytes(2, 7, 1) + record(index, 1) + record(index, 2) + record(index, 4) +
                          record(index, 5) + record(index, 5).substr(0, 100);
    site.writeBoardFile(1, "guestbook.dat", damaged);
    ::unlink((site.boardDir(1) + body(4)).c_str());
    site.writeBoardFile(1, "tmp.dat", "x");
    ToolResult repaired = tool("repair --orphans 1");
    EXPECT_EQ(repaired.status, 0) << repaired.out;
    EXPECT_EQ(tool("check 1").status, 0);
    EXPECT_EQ(listed(), (std::vector<std::string>{"Subject 5", "Subject 4", "Subject 2", "Subject 1"}));
    EXPECT_EQ(site.readBoardFile(1, body(5)), "body 5");
    EXPECT_EQ(site.readBoardFile(1, "orphan-" + body(3)), "body 3");
}

TEST_F(GesipanRun, ExportImportExport) {
    TestRecord first;
    first.textNum = 1;
    first.name = "\xB0\xA1\xB3\xAA";         // 가나 in EUC-KR
    first.subject = "bad \xFF byte \x80";     // no EUC-KR character
    first.readCount = "  12";
    first.email = "a\"b\\c@example.org";
    TestRecord second;
    second.textNum = 2;
    second.subject = std::string(79, 'S');     // the field's whole width
    TestRecord third;
    third.textNum = 3;
    third.fileName = "guestbook7.html";
    site.writeBoardFile(1, "guestbook.dat",
                        headerBytes(7, 3, 1) + recordBytes(first) + recordBytes(second) + recordBytes(third));
    const char body1[] = "line\n<br>\xC7\xD1\0tab\t\xA1";
    site.writeBoardFile(1, "guestbook1.html", std::string(body1, sizeof body1 - 1));
    site.writeBoardFile(1, "guestbook7.html", "");  // guestbook2.html is missing

    ToolResult exported = tool("export 1");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find(u8"\"Name\":\"가나\""), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("bad \\udcff byte \\udc80"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find(u8"line\\n<br>한\\u0000tab\\t\\udca1"), std::string::npos) << exported.out;
    EXPECT_NE(exported.out.find("\"body\":null"), std::string::npos);

    site.boardDir(2);
    ToolResult imported = tool("import 2", exported.out);
    ASSERT_EQ(imported.status, 0) << imported.err;
    ToolResult again = tool("export 2");
    ASSERT_EQ(again.status, 0);
    std::string expected = std::regex_replace(exported.out, std::regex("\"board\":1,"), "\"board\":2,");
    expected = std::regex_replace(expected, std::regex("\"BoardNum\":\"1\""), "\"BoardNum\":\"2\"");
    EXPECT_EQ(again.out, expected);

    std::string original = site.readBoardFile(1, "guestbook.dat");
    std::string copy = site.readBoardFile(2, "guestbook.dat");
    ASSERT_EQ(copy.size(), original.size());
    EXPECT_EQ(copy.substr(125), original.substr(125));
    EXPECT_EQ(site.readBoardFile(2, "guestbook1.html"), site.readBoardFile(1, "guestbook1.html"));
    EXPECT_TRUE(site.boardFileExists(2, "guestbook7.html"));
    EXPECT_FALSE(site.boardFileExists(2, "guestbook2.html"));
    EXPECT_EQ(tool("check 2").status, 1);  // the missing body travels with the board

    // A board with messages is never overwritten.
    ToolResult refused = tool("import 1", exported.out);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat"), original);
    // Nor is a body file that stands in the way.
    site.writeBoardFile(3, "guestbook1.html", "someone else's");
    EXPECT_EQ(tool("import 3", exported.out).status, 1);
    EXPECT_FALSE(site.boardFileExists(3, "guestbook.dat"));
    EXPECT_EQ(site.readBoardFile(3, "guestbook1.html"), "someone else's");
    // A broken line changes nothing.
    EXPECT_EQ(tool("import 3", exported.out.substr(0, exported.out.size() / 2)).status, 1);
    EXPECT_FALSE(site.boardFileExists(3, "guestbook.dat"));
}

TEST_F(GesipanRun, PasswordWritesAHashTheProgramsAccept) {
    storeMessages(3);
    const std::string conf = site.cgiBin() + "/GuestBook.conf";
    ::chmod(conf.c_str(), 0640);
    std::string before = readFile(conf);
    EXPECT_EQ(tool("password", "one\ntwo\n").status, 1);
    EXPECT_EQ(readFile(conf), before);
    EXPECT_EQ(tool("password", "").status, 1);
    // What the forms' password fields (maxlength=10) cannot send.
    for (const char* tooLong : {"toolongpassword\ntoolongpassword\n", "elevenchars\nelevenchars\n",
                                "\xED\x95\x9C" "1234567890\n\xED\x95\x9C" "1234567890\n"}) {
        ToolResult refused = tool("password", tooLong);
        EXPECT_EQ(refused.status, 1) << tooLong;
        EXPECT_NE(refused.err.find("at most 10 characters"), std::string::npos) << refused.err;
        EXPECT_EQ(readFile(conf), before);
    }
    EXPECT_EQ(tool("password", "\xED\x95\x9C" "123456789\n\xED\x95\x9C" "123456789\n").status, 0);

    ToolResult set = tool("password", "new pass\nnew pass\n");
    ASSERT_EQ(set.status, 0) << set.err;
    std::string after = readFile(conf);
    std::smatch hash;
    ASSERT_TRUE(std::regex_search(after, hash, std::regex("\nPassword (\\$y\\$[^\n]+)\n")));
    EXPECT_EQ(after.find("secret"), std::string::npos);
    EXPECT_EQ(std::regex_replace(after, std::regex("Password [^\n]*"), "Password secret"), before);
    struct stat info;
    ASSERT_EQ(::stat(conf.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    auto run = [this](const std::string& program, int textNum, const std::string& form, const std::string& address) {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=" + std::to_string(textNum);
        request.body = form;
        request.env = {{"REMOTE_ADDR", address}};
        return pageOf(runCgi(program, site.cgiBin(), request));
    };
    EXPECT_NE(run("EditPage", 1, "password=new+pass", "192.0.2.1").find("<textarea"), std::string::npos);
    EXPECT_NE(run("EditPage", 1, "password=new+pasS", "192.0.2.1").find("Access denied."), std::string::npos);
    // The hash itself is no password.
    EXPECT_NE(run("EditPage", 1, "password=" + hash[1].str(), "192.0.2.1").find("Access denied."), std::string::npos);
    const std::string edit = "name=Lee&email=&homepage=&subject=Edited&body=b&password=";
    EXPECT_NE(run("SavePage", 2, edit + "wrong", "192.0.2.1").find("Access denied."), std::string::npos);
    EXPECT_NE(run("SavePage", 2, edit + "new+pass", "192.0.2.1").find("Edited"), std::string::npos);
    EXPECT_EQ(fieldAt(site.readBoardFile(1, "guestbook.dat"), 125 + 410 + 115, 80), "Edited");
    EXPECT_NE(run("DropPage", 3, "password=secret", "192.0.2.1").find("Access denied."), std::string::npos);
    EXPECT_NE(run("DropPage", 3, "password=new+pass", "192.0.2.1").find("Successfully removed."), std::string::npos);
    EXPECT_FALSE(site.boardFileExists(1, body(3)));
}
