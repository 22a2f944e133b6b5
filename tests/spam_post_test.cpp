// The spam defences through the real programs: FormPage and EditPage print
// the token and the honeypot, SavePage refuses what each defence catches,
// alone and together, at once from many processes, and with its files
// damaged or missing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "spam/form_token.h"
#include "scratch_site.h"

namespace {

const std::string kSecret = "7f3a9c0e5b1d2f4a6c8e0a2b4d6f8a1c";
const char kAllDefences[] = "HONEYPOT on\nLINK_LIMIT 3\nPOST_LIMIT 5 600\nDUPLICATE_CHECK 86400\n";

class SpamPost : public ::testing::Test {
protected:
    void SetUp() override {
        site.boardDir(1);
        site.boardDir(2);
        ::mkdir((site.bbsDir() + "throttle").c_str(), 0700);
        ::mkdir((site.root() + "/secret").c_str(), 0700);
        writeFile(secretPath(), kSecret + "\n");
        writeFile(banPath(), "");
    }
    std::string secretPath() const { return site.root() + "/secret/form.key"; }
    std::string banPath() const { return site.root() + "/secret/ban.list"; }
    std::string throttle(const std::string& name) const { return site.bbsDir() + "throttle/" + name; }

    void configure(const std::string& lines) {
        site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword secret\n" + lines +
                         "1 title1.gif\n2 title2.gif\n");
    }
    std::string tokenLine() const { return "FORM_TOKEN " + secretPath() + " 3\n"; }
    std::string banLine() const { return "BAN_LIST " + banPath() + "\n"; }

    // A token as FormPage would have served it `age` seconds ago.
    static std::string token(int board, long age) {
        return makeFormToken(kSecret, board, std::time(nullptr) - age, freshNonce());
    }
    static std::string form(const std::string& body, const std::string& extra = "", const std::string& homepage = "http%3A%2F%2F") {
        return "name=Kim&email=k%40example.org&homepage=" + homepage + "&subject=Hello&body=" + body + extra;
    }
    CgiResult post(int board, const std::string& body, const std::string& address = "192.0.2.10", int textNum = -1) {
        CgiRequest request;
        request.query = "BoardNum=" + std::to_string(board) + "&TextNum=" + std::to_string(textNum);
        request.body = body;
        request.env = {{"REMOTE_ADDR", address}, {"TZ", "UTC"}};
        return runCgi("SavePage", site.cgiBin(), request);
    }
    CgiResult page(const std::string& program, const std::string& query, const std::string& body = "") {
        CgiRequest request;
        request.query = query;
        request.body = body;
        request.env = {{"REMOTE_ADDR", "192.0.2.10"}};
        return runCgi(program, site.cgiBin(), request);
    }
    int stored(int board) {
        if (!site.boardFileExists(board, "guestbook.dat")) return 0;
        return static_cast<int>((site.readBoardFile(board, "guestbook.dat").size() - 125) / 410);
    }
    // A refusal: the error page with `sentence`, status 1, nothing stored.
    void expectRefused(const CgiResult& result, const char* sentence, int board, int before) {
        EXPECT_EQ(result.status, 1);
        std::string text = pageOf(result);
        EXPECT_NE(text.find(sentence), std::string::npos) << text;
        EXPECT_EQ(text.find("token"), std::string::npos);
        EXPECT_EQ(stored(board), before);
    }
    ScratchSite site;
};

const char kSendAgain[] = "Please open the form anew";
const char kWait[] = "Please wait a little";
const char kLinks[] = "Too many links";
const char kDuplicate[] = "on the board already";
const char kBanned[] = "cannot be posted here";

// `text` as a browser encodes a form field.
std::string formEncoded(const std::string& text) {
    std::string encoded;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-') {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return encoded;
}

// The token the page carries, or "".
std::string tokenIn(const std::string& page) {
    std::size_t at = page.find("name=token value=\"");
    if (at == std::string::npos) return "";
    at += 18;
    return page.substr(at, page.find('"', at) - at);
}

// The page without the lines that hold `marks`.
std::string withoutLinesHolding(std::string page, const std::vector<std::string>& marks) {
    for (const std::string& mark : marks) {
        std::size_t at = page.find(mark);
        if (at == std::string::npos) continue;
        std::size_t start = page.rfind('\n', at) + 1;
        page.erase(start, page.find('\n', at) + 1 - start);
    }
    return page;
}

}  // namespace

TEST_F(SpamPost, FormsDifferOnlyByTheTokenAndHoneypotAfterTheirFields) {
    configure("");
    std::string plainCompose = pageOf(page("FormPage", "BoardNum=1"));
    TestRecord r;
    site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(r));
    site.writeBoardFile(1, "guestbook1.html", "body");
    std::string plainEdit = pageOf(page("EditPage", "BoardNum=1&TextNum=1", "password=secret"));

    configure(tokenLine() + kAllDefences + banLine());
    std::string compose = pageOf(page("FormPage", "BoardNum=1"));
    std::string edit = pageOf(page("EditPage", "BoardNum=1&TextNum=1", "password=secret"));
    for (const std::string* form : {&compose, &edit}) {
        std::string token = tokenIn(*form);
        EXPECT_EQ(checkFormToken(kSecret, 1, std::time(nullptr), 0, token), TokenVerdict::Valid) << token;
        EXPECT_EQ(checkFormToken(kSecret, 2, std::time(nullptr), 0, token), TokenVerdict::Forged);
        // After the body (and the edit's password), so the browser sends them last.
        EXPECT_LT(form->find("</textarea>"), form->find("name=token"));
        EXPECT_LT(form->find("name=token"), form->find("name=website"));
        EXPECT_NE(form->find("<div hidden><label>"), std::string::npos);
    }
    EXPECT_LT(edit.find("name=password"), edit.find("name=token"));
    EXPECT_EQ(withoutLinesHolding(compose, {"name=token", "name=website"}), plainCompose);
    EXPECT_EQ(withoutLinesHolding(edit, {"name=token", "name=website"}), plainEdit);
    EXPECT_NE(tokenIn(compose), tokenIn(pageOf(page("FormPage", "BoardNum=1")))) << "every form its own token";
}

TEST_F(SpamPost, AFormPostedInBrowserOrderStoresItsFiveFieldsByPosition) {
    configure(tokenLine() + kAllDefences);
    CgiResult result = post(1, form("line+one%0D%0Aline+two", "&token=" + token(1, 10) + "&website="));
    ASSERT_EQ(result.status, 0) << pageOf(result);
    std::string record = site.readBoardFile(1, "guestbook.dat").substr(125);
    EXPECT_EQ(fieldAt(record, 5, 20), "Kim");
    EXPECT_EQ(fieldAt(record, 65, 40), "k@example.org");
    EXPECT_EQ(fieldAt(record, 115, 80), "Hello");
    EXPECT_EQ(fieldAt(record, 200, 60), "http://");
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "line one<br>\nline two");
}

TEST_F(SpamPost, TokensMissingForgedAlteredExpiredEarlyFromAnotherBoardOrReplayedAreRefused) {
    configure(tokenLine());
    expectRefused(post(1, form("a")), kSendAgain, 1, 0);
    expectRefused(post(1, form("a", "&token=1765000000.00112233aabbccdd.0123456789abcdef0123456789abcdef")), kSendAgain, 1, 0);
    std::string good = token(1, 10);
    std::string altered = good;
    altered[2] = altered[2] == '9' ? '8' : '9';
    expectRefused(post(1, form("a", "&token=" + altered)), kSendAgain, 1, 0);
    expectRefused(post(1, form("a", "&token=" + token(2, 10))), kSendAgain, 1, 0);
    expectRefused(post(1, form("a", "&token=" + token(1, kTokenLifetime + 5))), kSendAgain, 1, 0);
    std::string early = token(1, 0);
    expectRefused(post(1, form("a", "&token=" + early)), kWait, 1, 0);
    // The early form is not spent: sent again after the wait, it posts.
    ::sleep(3);
    EXPECT_EQ(post(1, form("a", "&token=" + early)).status, 0);
    EXPECT_EQ(post(1, form("b", "&token=" + good)).status, 0);
    expectRefused(post(1, form("c", "&token=" + good)), kSendAgain, 1, 2);
    EXPECT_EQ(post(2, form("d", "&token=" + token(2, 10))).status, 0);
    // A board without a line is refused as before, and counts nothing.
    std::string noBoard = token(7, 10);
    EXPECT_NE(pageOf(post(7, form("x", "&token=" + noBoard))).find("There is no board number like that"), std::string::npos);
    EXPECT_FALSE(fileExists(site.bbsDir() + "7"));
    EXPECT_EQ(readFile(throttle("form.tokens")).find(noBoard.substr(11, 16)), std::string::npos);
    // Without the line, no token is asked for.
    configure("");
    EXPECT_EQ(post(1, form("e")).status, 0);
    EXPECT_EQ(stored(1), 3);
}

TEST_F(SpamPost, EachDefenceAloneCatchesItsClassAndLetsAPersonThrough) {
    configure("HONEYPOT on\n");
    expectRefused(post(1, form("a", "&website=http%3A%2F%2Fspam.example")), kSendAgain, 1, 0);
    EXPECT_EQ(post(1, form("a", "&website=")).status, 0);

    configure("LINK_LIMIT 3\n");
    std::string three = "http%3A%2F%2Fa.example+www.b.example+https%3A%2F%2Fc.example";
    EXPECT_EQ(post(1, form(three)).status, 0) << "the compose form's bare http:// is no link";
    expectRefused(post(1, form(three, "", "http%3A%2F%2Fhome.example")), kLinks, 1, 2);

    configure("POST_LIMIT 3 600\n");
    for (int k = 0; k < 3; ++k) EXPECT_EQ(post(1, form("p" + std::to_string(k)), "198.51.100.1").status, 0);
    expectRefused(post(1, form("p3"), "198.51.100.1"), kWait, 1, 5);
    EXPECT_EQ(post(1, form("p4"), "198.51.100.2").status, 0);
    // An edit with the password is not counted, nor refused.
    EXPECT_EQ(post(1, form("edited", "&password=secret"), "198.51.100.1", 1).status, 0);
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "edited");

    configure("DUPLICATE_CHECK 86400\n");
    EXPECT_EQ(post(1, form("same+old%0D%0Aspam")).status, 0);
    expectRefused(post(1, form("same+old+spam+"), "203.0.113.5"), kDuplicate, 1, 7);
    EXPECT_EQ(post(2, form("same+old+spam")).status, 0) << "another board";
    EXPECT_EQ(post(1, form("same+old+spam", "&password=secret"), "192.0.2.10", 2).status, 0) << "an edit";

    configure(banLine());
    // "카지노" in UTF-8 in the list, in EUC-KR in the post.
    writeFile(banPath(), std::string("# kept out\n203.0.113.7\n2001:db8::/32\n") + u8"카지노" + "\n");
    expectRefused(post(1, form("hi"), "203.0.113.7"), kBanned, 1, 7);
    expectRefused(post(1, form("hi"), "2001:db8::9"), kBanned, 1, 7);
    expectRefused(post(1, form("best+%C4%AB%C1%F6%B3%EB+here")), kBanned, 1, 7);
    EXPECT_EQ(post(1, form("hi"), "203.0.113.8").status, 0);
}

TEST_F(SpamPost, LinksCountAsThePagePrintsThemAndWordsAsTheReaderSeesThem) {
    configure("LINK_LIMIT 3\n" + banLine());
    // A byte-order mark and CRLF line ends, as some editors write the list.
    writeFile(banPath(), "\xEF\xBB\xBF" "casino\r\nviagra\r\n");
    // Each way of writing one live link; %N its number.
    const char* const links[] = {
        "<a href=\"//spam.example/%N\">x</a>",           "<a href=\"&#104;ttp://spam.example/%N\">x</a>",
        "<a href=\"http&#58;//spam.example/%N\">x</a>",  "<a href=\"http:///spam.example/%N\">x</a>",
        "<a href=\"http:\\\\spam%N.example\">x</a>", "<a href=\"https:spam%N.example\">x</a>",
    };
    int storedSoFar = 0;
    for (const char* link : links) {
        for (int count : {3, 4}) {
            std::string body;
            for (int n = 1; n <= count; ++n) {
                std::string one = link;
                one.replace(one.find("%N"), 2, std::to_string(n));
                body += one + " ";
            }
            CgiResult result = post(1, form(formEncoded(body), "", ""));
            if (count == 3) {
                EXPECT_EQ(result.status, 0) << body;
                ++storedSoFar;
            } else {
                expectRefused(result, kLinks, 1, storedSoFar);
            }
        }
    }
    for (const char* text :
         {"play &#99;asino now", "c&#x61;sino", "cas<b></b>ino", "play \xFF" "casino now", "viagra"}) {
        expectRefused(post(1, form(formEncoded(text))), kBanned, 1, storedSoFar);
    }
    EXPECT_EQ(post(1, form(formEncoded("cas ino, two links: http://a.example www.b.example"))).status, 0);
}

TEST_F(SpamPost, ARecordOfAnySizeIsReadUpToItsCapAndWrittenAfresh) {
    configure(tokenLine() + "POST_LIMIT 2 600\nDUPLICATE_CHECK 86400\n" + banLine());
    struct Case {
        std::string path;
        const char* head;  // what the post writes afresh; null: the owner's file, left as it is
    };
    const Case cases[] = {
        {throttle("posting.count"), "gesipan posts 1\n"},
        {throttle("form.tokens"), "gesipan tokens 1 0\n"},
        {throttle("recent.bodies"), "gesipan bodies 1\n"},
        {banPath(), nullptr},
    };
    const off_t huge = 100LL << 30;  // sparse: no disk space taken
    int posted = 0;
    for (const Case& c : cases) {
        writeFile(c.path, "");
        ASSERT_EQ(::truncate(c.path.c_str(), huge), 0) << c.path;
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=-1";
        request.body = form("body" + std::to_string(posted), "&token=" + token(1, 10));
        request.env = {{"REMOTE_ADDR", "192.0.2." + std::to_string(20 + posted)}, {"TZ", "UTC"}};
        request.mergeStderr = true;
        CgiResult result = runCgi("SavePage", site.cgiBin(), request);
        EXPECT_EQ(result.status, 0) << c.path << result.output;
        EXPECT_EQ(stored(1), ++posted) << c.path;
        // One line in the server's log says which file, and nothing else does.
        std::size_t line = result.output.find("gesipan: " + c.path + ": ");
        EXPECT_NE(line, std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("gesipan: ", line + 1), std::string::npos) << result.output;
        struct stat info;
        ASSERT_EQ(::stat(c.path.c_str(), &info), 0);
        if (c.head) {
            EXPECT_LT(info.st_size, 4096) << c.path;
            EXPECT_EQ(readFile(c.path).rfind(c.head, 0), 0u) << c.path;
        } else {
            EXPECT_EQ(info.st_size, huge);
            writeFile(c.path, "");
        }
    }
}

TEST_F(SpamPost, AllDefencesTogetherStopEachBotClassButNotAPerson) {
    configure(tokenLine() + kAllDefences + banLine());
    writeFile(banPath(), "viagra\n");
    // A person: waited, typed Korean, one link.
    EXPECT_EQ(post(1, form("%BE%C8%B3%E7%C7%CF%BC%BC%BF%E4+http%3A%2F%2Fa.example", "&token=" + token(1, 6) + "&website="))
                  .status,
              0);
    expectRefused(post(1, form("direct")), kSendAgain, 1, 1);
    expectRefused(post(1, form("filled", "&token=" + token(1, 0) + "&website=x")), kSendAgain, 1, 1);
    expectRefused(post(1, form("fast", "&token=" + token(1, 0) + "&website=")), kWait, 1, 1);
    expectRefused(post(1, form("www.a.x+www.b.x+www.c.x+www.d.x", "&token=" + token(1, 9) + "&website=")), kLinks, 1, 1);
    expectRefused(post(1, form("cheap+VIAGRA", "&token=" + token(1, 9) + "&website=")), kBanned, 1, 1);
}

TEST_F(SpamPost, EditRoundTripKeepsWorkingWithTheDefencesOn) {
    configure(tokenLine() + kAllDefences + banLine());
    TestRecord r;
    site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(r));
    site.writeBoardFile(1, "guestbook1.html", "old body");
    std::string edit = pageOf(page("EditPage", "BoardNum=1&TextNum=1", "password=secret"));
    std::string token = tokenIn(edit);
    ASSERT_FALSE(token.empty());
    std::string fields = "name=Kim&email=&homepage=&subject=Hello&body=new+body&password=secret";
    expectRefused(post(1, fields + "&token=" + token + "&website=", "192.0.2.10", 1), kWait, 1, 1);
    ::sleep(3);
    ASSERT_EQ(post(1, fields + "&token=" + token + "&website=", "192.0.2.10", 1).status, 0);
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "new body");
    expectRefused(post(1, fields, "192.0.2.10", 1), kSendAgain, 1, 1);
}

TEST_F(SpamPost, ConcurrentPostsNeverSlipPastTheRecords) {
    configure(tokenLine() + "POST_LIMIT 5 600\nDUPLICATE_CHECK 86400\n");
    auto together = [&](int count, const std::function<CgiResult(int)>& run) {
        std::vector<std::thread> threads;
        std::atomic<int> ok{0};
        for (int k = 0; k < count; ++k) {
            threads.emplace_back([&, k] {
                if (run(k).status == 0) ++ok;
            });
        }
        for (std::thread& thread : threads) thread.join();
        return ok.load();
    };
    std::string replayed = token(1, 10);
    EXPECT_EQ(together(12, [&](int k) { return post(1, form("replay" + std::to_string(k), "&token=" + replayed),
                                                     "10.0.0." + std::to_string(k)); }),
              1);
    EXPECT_EQ(together(12, [&](int k) { return post(1, form("from+one" + std::to_string(k), "&token=" + token(1, 10)),
                                                     "10.1.1.1"); }),
              5);
    EXPECT_EQ(together(8, [&](int k) { return post(1, form("the+same+body", "&token=" + token(1, 10)),
                                                    "10.2.0." + std::to_string(k)); }),
              1);
    EXPECT_EQ(stored(1), 7);
}

TEST_F(SpamPost, DamagedOrMissingRecordsLetPostsGoAndAreMended) {
    configure(tokenLine() + "POST_LIMIT 2 600\nDUPLICATE_CHECK 86400\n");
    for (const char* name : {"posting.count", "form.tokens", "recent.bodies"}) writeFile(throttle(name), "\x01garbage\n7 x");
    EXPECT_EQ(post(1, form("one", "&token=" + token(1, 10))).status, 0);
    EXPECT_EQ(readFile(throttle("posting.count")).rfind("gesipan posts 1\n192.0.2.10 ", 0), 0u);
    EXPECT_EQ(readFile(throttle("form.tokens")).rfind("gesipan tokens 1 0\n", 0), 0u);
    EXPECT_EQ(readFile(throttle("recent.bodies")).rfind("gesipan bodies 1\n1 ", 0), 0u);
    // Mended, the defences count again.
    EXPECT_EQ(post(1, form("two", "&token=" + token(1, 10))).status, 0);
    expectRefused(post(1, form("three", "&token=" + token(1, 10))), kWait, 1, 2);

    // A link planted for a record is never written through.
    ::unlink(throttle("posting.count").c_str());
    std::string target = site.root() + "/elsewhere";
    writeFile(target, "untouched");
    ASSERT_EQ(::symlink(target.c_str(), throttle("posting.count").c_str()), 0);
    EXPECT_EQ(post(1, form("four", "&token=" + token(1, 10)), "192.0.2.99").status, 0);
    EXPECT_EQ(readFile(target), "untouched");

    // Without the directory nothing is counted and posting goes on.
    ASSERT_EQ(std::system(("rm -rf " + site.bbsDir() + "throttle").c_str()), 0);
    writeFile(site.bbsDir() + "throttle", "a file where the directory should be");
    std::string reused = token(1, 10);
    EXPECT_EQ(post(1, form("five", "&token=" + reused)).status, 0);
    EXPECT_EQ(post(1, form("six", "&token=" + reused)).status, 0);
    EXPECT_EQ(stored(1), 5);
}
