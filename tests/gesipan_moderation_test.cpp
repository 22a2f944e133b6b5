// The owner cleaning up with the tool: listing a board's recent messages,
// erasing by number, range, address and word as one change, the dry run,
// what is refused, and boards of 9,999 messages.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include "board_check.h"
#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

// Korean as the owner types it (UTF-8); the sources' own literals are
// compiled to the boards' EUC-KR.
const char kAdvertUtf8[] = "\xea\xb4\x91\xea\xb3\xa0";  // 광고
const char kKimUtf8[] = "\xea\xb9\x80";                // 김

std::string quoted(const std::string& word) { return "'" + word + "'"; }

// The message numbers of the tool's message lines, in its order.
std::vector<int> numbersOf(const std::string& out) {
    std::vector<int> numbers;
    std::istringstream lines(out);
    std::string line;
    static const std::regex messageLine(" *([0-9]+)  .*");
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, match, messageLine)) numbers.push_back(std::stoi(match[1].str()));
    }
    return numbers;
}

class Moderation : public ::testing::Test {
protected:
    void SetUp() override { site.writeStandardConfig(); }

    ToolResult tool(const std::string& args, const std::string& launcher = "", const std::string& program = "") {
        return runTool(site, args, "", launcher, program);
    }

    // Board 1 from `records` (numbered by position), each body "body N"
    // unless given.
    void storeBoard(std::vector<TestRecord> records, const std::vector<std::string>& bodies = {}) {
        std::string index = headerBytes(static_cast<int>(records.size()), static_cast<int>(records.size()), 1);
        for (std::size_t i = 0; i < records.size(); ++i) {
            records[i].textNum = static_cast<int>(i + 1);
            index += recordBytes(records[i]);
            std::string name = records[i].fileName.empty() ? body(static_cast<int>(i + 1)) : records[i].fileName;
            site.writeBoardFile(1, name, i < bodies.size() ? bodies[i] : "body " + std::to_string(i + 1));
        }
        site.writeBoardFile(1, "guestbook.dat", index);
    }
    static TestRecord message(const std::string& subject, const std::string& host = "host.example") {
        TestRecord record;
        record.subject = subject;
        record.remoteHost = host;
        return record;
    }
    static std::string body(int n) { return "guestbook" + std::to_string(n) + ".html"; }

    // What ListPage shows of board 1: the subjects, in its order.
    std::vector<std::string> listed(const std::string& pattern = "S[0-9]+") {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=0";
        std::string page = pageOf(runCgi("ListPage", site.cgiBin(), request));
        std::vector<std::string> subjects;
        std::regex subject(pattern);
        for (auto it = std::sregex_iterator(page.begin(), page.end(), subject); it != std::sregex_iterator(); ++it) {
            subjects.push_back(it->str());
        }
        return subjects;
    }

    ScratchSite site;
};

TEST_F(Moderation, ListsNewestFirstWithHostAndLinksAsTextAndJson) {
    TestRecord first = message("S1", "10.0.0.1");
    first.homepage = "www.home.example";
    TestRecord second = message("S2 http://a.example", "spam.example");
    second.name = "김";
    TestRecord third = message("S3");
    third.homepage = "http://";  // the compose form's own start: no link
    storeBoard({first, second, third},
               {"no link", "http://www.b.example and https://c.example, WWW.D.EXAMPLE, ftp://e", "x"});

    ToolResult text = tool("list 1");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "board 1: 3 of 3 messages, newest first\n"
              "   3  1997" "\xeb\x85\x84" "03" "\xec\x9b\x94" "05" "\xec\x9d\xbc" " 14" "\xec\x8b\x9c" "05"
              "\xeb\xb6\x84" "  host.example  links 0  \"Kim\"  \"S3\"\n"
              "   2  1997" "\xeb\x85\x84" "03" "\xec\x9b\x94" "05" "\xec\x9d\xbc" " 14" "\xec\x8b\x9c" "05"
              "\xeb\xb6\x84" "  spam.example  links 5  \"" + std::string(kKimUtf8) + "\"  \"S2 http://a.example\"\n"
              "   1  1997" "\xeb\x85\x84" "03" "\xec\x9b\x94" "05" "\xec\x9d\xbc" " 14" "\xec\x8b\x9c" "05"
              "\xeb\xb6\x84" "  10.0.0.1  links 1  \"Kim\"  \"S1\"\n");

    ToolResult json = tool("list --json --limit 2 1");
    EXPECT_EQ(json.status, 0) << json.err;
    std::regex line("\\{\"board\":1,\"number\":([0-9]+),\"Date\":\"[^\"]+\",\"Time\":\"[^\"]+\",\"Name\":\"([^\"]*)\","
                    "\"Subject\":\"([^\"]*)\",\"RemoteHost\":\"([^\"]*)\",\"links\":([0-9]+)\\}\n");
    std::vector<std::string> seen;
    for (auto it = std::sregex_iterator(json.out.begin(), json.out.end(), line); it != std::sregex_iterator(); ++it) {
        seen.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[4].str() + " " + (*it)[5].str());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"3 Kim host.example 0", "2 " + std::string(kKimUtf8) + " spam.example 5"}))
        << json.out;

    // A board without an index lists no messages.
    site.boardDir(2);
    EXPECT_EQ(tool("list 2").out, "board 2: 0 of 0 messages, newest first\n");
}

TEST_F(Moderation, VisitorBytesCannotDriveTheOwnersTerminal) {
    TestRecord record = message("S1\x07\x1b]0;owned\x07", "h\x1b[2J");
    record.name = "\x1b[31mRed\xff";
    storeBoard({record});
    for (const char* command : {"list 1", "list --json 1", "erase --dry-run 1 1"}) {
        ToolResult result = tool(command);
        EXPECT_EQ(result.status, 0) << command << result.err;
        EXPECT_EQ(result.out.find_first_of("\x1b\x07\xff"), std::string::npos) << command << ": " << result.out;
        EXPECT_NE(result.out.find("\\u001b[31mRed\\udcff"), std::string::npos) << command << ": " << result.out;
    }
}

TEST_F(Moderation, LinksAndWordsAsTheReaderSeesThem) {
    const std::vector<std::string> bodies = {
        "<a href=\"//s.example/1\">x</a><a href=\"//s.example/2\">x</a><a href=//s.example/3>x</a><a href=//s>x</a>",
        "<a href=\"&#104;ttp://s/1\">x</a><a href=\"http&#58;//s/2\">x</a><a href=\"http:///s/3\">x</a>"
        "<a href=\"https:s\">x</a>",
        "play &#99;asino now",
        "c&#x61;sino",
        "cas<b></b>ino",
        "play \xff" "casino now",
        "cas ino http://a.example",
    };
    storeBoard(std::vector<TestRecord>(bodies.size(), message("S")), bodies);
    ToolResult listing = tool("list --json 1");
    std::vector<std::string> links;
    std::regex count("\"links\":([0-9]+)");
    const std::string& out = listing.out;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), count); it != std::sregex_iterator(); ++it) {
        links.push_back((*it)[1].str());
    }
    EXPECT_EQ(links, (std::vector<std::string>{"1", "0", "0", "0", "0", "4", "4"})) << listing.out;
    ToolResult words = tool("erase 1 --word CASINO");
    EXPECT_EQ(words.status, 0) << words.err;
    EXPECT_EQ(numbersOf(words.out), (std::vector<int>{6, 5, 4, 3})) << words.out;
}

TEST_F(Moderation, ABodyTooLargeForAnyPageIsReportedByNumberAndTheRestGoesOn) {
    storeBoard({message("S1"), message("S2"), message("S3")});
    ASSERT_EQ(::truncate((site.boardDir(1) + body(2)).c_str(), 100LL << 30), 0);
    struct Case {
        const char* command;
        int status;
        const char* out;  // in standard output
        const char* err;  // in standard error
    };
    const Case cases[] = {
        {"list 1", 0, "board 1: 3 of 3 messages", "message 2: body file guestbook2.html is larger than"},
        {"erase --dry-run 1 --word body", 0, "would erase 2 of 3", "message 2: body file guestbook2.html"},
        {"export 1", 1, "\"body\":\"body 3\"", "message 2: body file guestbook2.html is larger than"},
        {"check 1", 1, "record 2: body file guestbook2.html is larger than 4194304 bytes", ""},
        {"erase 1 1", 0, "erased 1 of 3 messages", "message 2: body file guestbook2.html"},
    };
    for (const Case& c : cases) {
        ToolResult result = tool(c.command);
        EXPECT_EQ(result.status, c.status) << c.command << ": " << result.out << result.err;
        EXPECT_NE(result.out.find(c.out), std::string::npos) << c.command << ": " << result.out;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.command << ": " << result.err;
    }
    EXPECT_EQ(listed(), (std::vector<std::string>{"S3", "S2"}));
}

TEST_F(Moderation, ErasesNumbersRangesAddressesAndWordsInOneChange) {
    std::vector<TestRecord> records;
    for (int n = 1; n <= 12; ++n) records.push_back(message("S" + std::to_string(n), "10.0.0." + std::to_string(n)));
    records[6].remoteHost = "Spam.Example";  // 7, the address in another case
    records[9].remoteHost = "spam.example";  // 10
    records[10].remoteHost = "10.0.0.100";   // 11: starts like an erased address, is not it
    records[7].subject = "S8 FREE Offer";    // 8, by a word in the subject
    std::vector<std::string> bodies(12);
    for (int n = 1; n <= 12; ++n) bodies[static_cast<std::size_t>(n - 1)] = "body " + std::to_string(n);
    bodies[3] = "<br>\xb1\xa4\xb0\xed here";  // 4, 광고 in the body
    storeBoard(records, bodies);
    const std::string serialBefore = fieldAt(site.readBoardFile(1, "guestbook.dat"), 0, 10);

    ToolResult erased = tool("erase 1 1 5-6 --host spam.example --host 10.0.0.10 --word free --word " +
                             quoted(kAdvertUtf8));
    ASSERT_EQ(erased.status, 0) << erased.out << erased.err;
    EXPECT_NE(erased.out.find("board 1: erased 7 of 12 messages; 5 left"), std::string::npos) << erased.out;
    EXPECT_EQ(numbersOf(erased.out), (std::vector<int>{10, 8, 7, 6, 5, 4, 1}));

    EXPECT_EQ(listed(), (std::vector<std::string>{"S12", "S11", "S9", "S3", "S2"}));
    const std::string index = site.readBoardFile(1, "guestbook.dat");
    ASSERT_EQ(index.size(), 125u + 5 * 410u);
    EXPECT_EQ(fieldAt(index, 10, 10), "5");
    EXPECT_EQ(fieldAt(index, 0, 10), serialBefore);
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(fieldAt(index, 125 + 410 * (n - 1), 5), std::to_string(n));
    for (int n : {1, 4, 5, 6, 7, 8, 10}) EXPECT_FALSE(site.boardFileExists(1, body(n))) << n;
    for (int n : {2, 3, 9, 11, 12}) EXPECT_EQ(site.readBoardFile(1, body(n)), "body " + std::to_string(n));
    EXPECT_EQ(boardProblems(site.boardDir(1)), "");
    ToolResult check = tool("check 1");
    EXPECT_EQ(check.out, "board 1: ok, 5 messages\n");
}

TEST_F(Moderation, WordsMatchWholeCharactersOnly) {
    // "가각" holds the bytes of “ across its two characters; 김 is whole.
    storeBoard({message("S1"), message("S2"), message("S3")}, {"\xb0\xa1\xb0\xa2", "x \xb1\xe8 y", "AbC"});
    ToolResult straddling = tool("erase --dry-run 1 --word '\xe2\x80\x9c'");
    EXPECT_EQ(straddling.status, 0) << straddling.err;
    EXPECT_EQ(straddling.out, "board 1: none of 3 messages selected; nothing erased\n");
    ToolResult whole = tool("erase --dry-run 1 --word " + quoted(kKimUtf8) + " --word aBc");
    EXPECT_EQ(numbersOf(whole.out), (std::vector<int>{3, 2}));
    EXPECT_NE(whole.out.find("board 1: would erase 2 of 3 messages\n"), std::string::npos);
    // Text EUC-KR cannot hold is refused rather than matched as something else.
    EXPECT_EQ(tool("erase 1 --word '\xf0\x9f\x98\x80'").status, 2);
    EXPECT_EQ(listed(), (std::vector<std::string>{"S3", "S2", "S1"}));
}

TEST_F(Moderation, DryRunShowsWhatWouldGoAndChangesNothing) {
    storeBoard({message("S1", "a.example"), message("S2", "b.example"), message("S3", "a.example")});
    const BoardSnapshot before = snapshotBoard(site.boardDir(1));
    ToolResult dry = tool("erase --dry-run 1 --host a.example");
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(snapshotDifference(snapshotBoard(site.boardDir(1)), before), "");
    ToolResult real = tool("erase 1 --host a.example");
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(dry.out.substr(0, dry.out.rfind("board 1:")), real.out.substr(0, real.out.rfind("board 1:")));
    EXPECT_NE(dry.out.find("board 1: would erase 2 of 3 messages\n"), std::string::npos);
    EXPECT_EQ(listed(), (std::vector<std::string>{"S2"}));
}

TEST_F(Moderation, RefusalsLeaveTheBoardAsItWas) {
    storeBoard({message("S1"), message("S2"), message("S3")});
    const BoardSnapshot before = snapshotBoard(site.boardDir(1));
    struct Case {
        std::string args;
        int status;
    };
    for (const Case& c : std::vector<Case>{{"erase 1 2 4", 1},         // beyond the last message: nothing at all
                                           {"erase 1", 2},             // nothing selected by the command
                                           {"erase 1 3-1", 2},         // backwards
                                           {"erase 1 0", 2},           // no message 0
                                           {"erase 1 x", 2},           // no number
                                           {"erase --limit 2 1 1", 2}, // --limit goes with list
                                           {"list --host h 1", 2},     // selectors go with erase
                                           {"check --dry-run 1", 2},
                                           {"erase 9 1", 2},           // no such board
                                           {"list 1 2", 2}}) {
        ToolResult result = tool(c.args);
        EXPECT_EQ(result.status, c.status) << c.args << ": " << result.out << result.err;
        EXPECT_EQ(snapshotDifference(snapshotBoard(site.boardDir(1)), before), "") << c.args;
    }
    // A board whose index disagrees with its count is for repair first.
    std::string index = site.readBoardFile(1, "guestbook.dat");
    site.writeBoardFile(1, "guestbook.dat", index.substr(0, index.size() - 100));
    const BoardSnapshot damaged = snapshotBoard(site.boardDir(1));
    ToolResult refused = tool("erase 1 1");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("repair it first; nothing erased"), std::string::npos) << refused.err;
    EXPECT_EQ(snapshotDifference(snapshotBoard(site.boardDir(1)), damaged), "");

    // So is one whose records are not where their numbers say, however
    // many messages the erase would take.
    std::vector<TestRecord> shifted = {message("S1"), message("S2"), message("S3")};
    storeBoard(shifted);
    index = site.readBoardFile(1, "guestbook.dat");
    index.replace(125 + 410, 1, "7");
    site.writeBoardFile(1, "guestbook.dat", index);
    const BoardSnapshot misnumbered = snapshotBoard(site.boardDir(1));
    for (const char* args : {"erase 1 1", "erase 1 1-3"}) {
        ToolResult result = tool(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_NE(result.err.find("repair it first; nothing erased"), std::string::npos) << args << result.err;
        EXPECT_EQ(snapshotDifference(snapshotBoard(site.boardDir(1)), misnumbered), "") << args;
    }
}

TEST_F(Moderation, ErasingEveryMessageTakesTheStoreAndTheBoardGoesOn) {
    storeBoard({message("S1"), message("S2")});
    ToolResult all = tool("erase 1 1-2");
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(snapshotBoard(site.boardDir(1)).size(), 0u);
    CgiRequest post;
    post.query = "BoardNum=1&TextNum=-1";
    post.body = "n=N&e=&h=&s=S9&b=x";
    EXPECT_NE(pageOf(runCgi("SavePage", site.cgiBin(), post)).find("<caption>"), std::string::npos);
    EXPECT_EQ(listed(), (std::vector<std::string>{"S9"}));
}

TEST_F(Moderation, ABodyFileAKeptRecordNamesStays) {
    TestRecord shared = message("S3");
    shared.fileName = "guestbook1.html";
    storeBoard({message("S1"), message("S2"), shared});
    ToolResult erased = tool("erase 1 1-2");
    EXPECT_EQ(erased.status, 0) << erased.err;
    ASSERT_TRUE(site.boardFileExists(1, "guestbook1.html"));
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "body 3");
    EXPECT_FALSE(site.boardFileExists(1, "guestbook2.html"));
    EXPECT_EQ(listed(), (std::vector<std::string>{"S3"}));
}

// A spam run filled the board: the tool lists and erases on a full board in
// one committed change, and says how long it took.
TEST_F(Moderation, FullBoardOfNineThousandNineHundredNinetyNine) {
    constexpr int kFull = 9999;
    std::string index = headerBytes(kFull, kFull, 1);
    for (int n = 1; n <= kFull; ++n) {
        TestRecord record = message("S" + std::to_string(n), n % 3 == 0 ? "spam.example" : "10.1.0." + std::to_string(n % 250));
        record.textNum = n;
        index += recordBytes(record);
        site.writeBoardFile(1, body(n), n % 5 == 0 ? "buy http://x.example" : "body " + std::to_string(n));
    }
    site.writeBoardFile(1, "guestbook.dat", index);
    auto timed = [](const std::function<ToolResult()>& run, const char* what) {
        auto start = std::chrono::steady_clock::now();
        ToolResult result = run();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("9,999 messages: %s: %.0f ms\n", what, ms);
        return result;
    };

    ToolResult list = timed([&] { return tool("list 1"); }, "list the newest 20");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.substr(0, list.out.find('\n', list.out.find('\n') + 1)),
              "board 1: 20 of 9999 messages, newest first\n9999  1997" "\xeb\x85\x84" "03" "\xec\x9b\x94" "05"
              "\xec\x9d\xbc" " 14" "\xec\x8b\x9c" "05" "\xeb\xb6\x84" "  spam.example  links 0  \"Kim\"  \"S9999\"");
    ToolResult dry = timed([&] { return tool("erase --dry-run 1 --word http://"); }, "dry run by a word in every body");
    EXPECT_NE(dry.out.find("board 1: would erase 1999 of 9999 messages\n"), std::string::npos);

    // The erase under strace: one commit (one redo record renamed into
    // place) for all 3,333 messages.
    const std::string trace = site.root() + "/trace";
    ToolResult erased = timed(
        [&] {
            return tool("erase 1 --host spam.example",
                        "/usr/bin/strace -qq -e trace=rename,renameat,renameat2 -o '" + trace + "'",
                        std::string(PLAIN_PROGRAM_DIR) + "/gesipan");
        },
        "erase 3,333 by address, under strace");
    ASSERT_EQ(erased.status, 0) << erased.err;
    EXPECT_NE(erased.out.find("board 1: erased 3333 of 9999 messages; 6666 left"), std::string::npos);
    const std::string calls = readFile(trace);
    std::regex commit("guestbook\\.redo\"");
    EXPECT_EQ(std::distance(std::sregex_iterator(calls.begin(), calls.end(), commit), std::sregex_iterator()), 1) << calls;
    EXPECT_EQ(boardProblems(site.boardDir(1)), "");
    EXPECT_EQ(listed(), (std::vector<std::string>{"S9998", "S9997", "S9995", "S9994", "S9992", "S9991", "S9989",
                                                  "S9988", "S9986", "S9985"}));

    ToolResult rest = timed([&] { return tool("erase 1 1-6666"); }, "erase the 6,666 left by range");
    EXPECT_EQ(rest.status, 0) << rest.err;
    EXPECT_EQ(snapshotBoard(site.boardDir(1)).size(), 0u);
}

// The operator's guide's morning-after recipe (docs/gesipan.md), run command by command on the board it
// shows: 812 messages, the newest 311 from one address or with its words.
TEST_F(Moderation, TheGuideRecipeAsWritten) {
    std::vector<TestRecord> records;
    std::vector<std::string> bodies;
    for (int n = 1; n <= 812; ++n) {
        TestRecord record = message("Subject " + std::to_string(n), "10.0.0." + std::to_string(n % 200));
        record.date = "2026년12월08일";
        record.time = "03시12분";
        std::string body = "hello";
        if (n > 501) {
            record.name = n % 2 ? "ann" : "joe";
            record.subject = "cheap pills";
            if (n % 7 == 3) {
                body = "play casino http://x.example";
            } else if (n % 11 == 5) {
                body = "대출 http://y.example";
            } else {
                record.remoteHost = "203.0.113.7";
                body = "http://1 http://2 http://3 http://4 http://5 http://6 http://7 http://8 http://9";
            }
        }
        records.push_back(record);
        bodies.push_back(body);
    }
    storeBoard(records, bodies);

    std::ifstream file(std::string(REPOSITORY_DIR) + "/docs/gesipan.md");
    std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t marker = readme.find("<!-- morning-after recipe");
    ASSERT_NE(marker, std::string::npos);
    const std::size_t start = readme.find("```\n", marker) + 4;
    std::istringstream block(readme.substr(start, readme.find("```", start) - start));
    auto replaced = [&](std::string line) {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"/srv/site", site.root()},
                                       {"bin/gesipan", programPath("gesipan")}}) {
            for (std::size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
                line.replace(at, from.size(), to);
            }
        }
        return line;
    };
    std::string prefix;
    std::string output;
    std::string line;
    int commands = 0;
    while (std::getline(block, line)) {
        if (line.rfind("$ ", 0) != 0) {
            // A line the command before prints, word for word.
            if (line.find_first_not_of(" .") != std::string::npos) {
                EXPECT_NE(("\n" + output).find("\n" + line + "\n"), std::string::npos) << line << "\nin:\n" << output;
            }
            continue;
        }
        const std::string command = replaced(line.substr(2));
        if (command.rfind("cd ", 0) == 0 || command.rfind("G=", 0) == 0) {
            prefix += command + "; ";
            continue;
        }
        writeFile(site.root() + "/recipe.sh", prefix + command + "\n");
        const std::string run = "bash '" + site.root() + "/recipe.sh' >'" + site.root() + "/recipe.out' 2>&1";
        EXPECT_EQ(std::system(run.c_str()), 0) << line;
        output = readFile(site.root() + "/recipe.out");
        ++commands;
    }
    EXPECT_EQ(commands, 6);
    EXPECT_EQ(boardProblems(site.boardDir(1)), "");
}

// Visitors go on posting while the owner erases: each post waits for the
// erase or goes before it, and none is lost.
TEST_F(Moderation, PostsDuringAnEraseAreKept) {
    constexpr int kMessages = 3000;
    constexpr int kPosts = 20;
    std::vector<TestRecord> records;
    for (int n = 1; n <= kMessages; ++n) records.push_back(message("S" + std::to_string(n), n % 2 ? "spam.example" : "h"));
    storeBoard(records);
    std::vector<std::string> pages(kPosts);
    std::thread poster([&] {
        for (int i = 0; i < kPosts; ++i) {
            CgiRequest post;
            post.query = "BoardNum=1&TextNum=-1";
            post.body = "n=N&e=&h=&s=P" + std::to_string(i) + "x&b=hello";
            pages[static_cast<std::size_t>(i)] = runCgi("SavePage", site.cgiBin(), post).output;
        }
    });
    ToolResult erased = tool("erase 1 --host spam.example");
    poster.join();
    EXPECT_EQ(erased.status, 0) << erased.err;
    EXPECT_NE(erased.out.find("board 1: erased 1500 of "), std::string::npos) << erased.out.substr(erased.out.rfind("board"));
    for (const std::string& page : pages) EXPECT_NE(page.find("<caption>"), std::string::npos) << page;
    EXPECT_EQ(boardProblems(site.boardDir(1)), "");
    const std::string index = site.readBoardFile(1, "guestbook.dat");
    EXPECT_EQ(fieldAt(index, 10, 10), std::to_string(kMessages / 2 + kPosts));
    int posts = 0;
    for (std::size_t at = 125; at + 410 <= index.size(); at += 410) {
        const std::string subject = fieldAt(index, at + 115, 80);
        if (subject[0] == 'P') ++posts;
        EXPECT_NE(fieldAt(index, at + 260, 50), "spam.example") << subject;
    }
    EXPECT_EQ(posts, kPosts);
}

}  // namespace
