// Hostile requests, configuration files and damaged boards against every
// program run as a CGI process: each run ends by itself, prints its header
// first, and leaves a healthy store healthy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "board_files.h"
#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

const char* const kPrograms[] = {"ListPage", "ShowPage", "FormPage", "SavePage", "EditPage", "DropPage"};

// A literal with its inner NUL bytes, without the final one.
template <std::size_t N>
std::string bytesOf(const char (&text)[N]) { return std::string(text, N - 1); }

struct Hostile {
    std::string what;
    CgiRequest request;
};

std::vector<Hostile> hostileRequests() {
    std::vector<Hostile> all;
    auto query = [&](const std::string& what, const std::string& q) {
        Hostile h{what, {}};
        h.request.query = q;
        all.push_back(h);
    };
    query("100 kB query", "1&" + std::string(100 * 1024, '9'));
    query("lone percent", "%");
    query("percent at the end", "1&2%");
    query("huge numbers", "99999999999999999999&99999999999999999999");
    query("negative numbers", "-1&-2147483648");
    query("int overflow", "2147483648&4294967297");
    query("no pairs", "");
    query("only separators", "&&&&&&&&&&&&");
    Hostile noQuery{"no query at all", {}};
    noQuery.request.noQuery = true;
    all.push_back(noQuery);

    auto body = [&](const std::string& what, const std::string& b, const std::string& length) {
        Hostile h{what, {}};
        h.request.query = "1&1";
        h.request.body = b;
        h.request.contentLength = length;
        h.request.env["REQUEST_METHOD"] = "POST";
        all.push_back(h);
    };
    body("length larger than the body", "name=a&subject=b", "100000");
    body("length not a number", "name=a", "lots");
    body("negative length", "name=a", "-5");
    std::string pairs;
    for (int k = 0; k < 5000; ++k) pairs += "f" + std::to_string(k) + "=v&";
    body("thousands of pairs", pairs, "");
    body("a field of several megabytes", "name=a&body=" + std::string(4 * 1024 * 1024, 'x'), "");
    body("binary body", bytesOf("\0\xff=\x01&%zz=%"), "");
    return all;
}

void expectHealthyRun(const CgiResult& result, const std::string& what) {
    EXPECT_EQ(result.signal, 0) << what;
    EXPECT_GE(result.status, 0) << what;
    EXPECT_EQ(result.output.compare(0, 23, "Content-type: text/html"), 0) << what << ": " << result.output.substr(0, 80);
}

// Invariants 1 and 2 of the store: length matches the count, record n holds n.
void expectStoreSound(ScratchSite& site, const std::string& before, const std::string& what) {
    const std::string bytes = site.readBoardFile(1, "guestbook.dat");
    if (bytes == before) return;
    ASSERT_GE(bytes.size(), 125u) << what;
    const long count = std::atol(fieldAt(bytes, 10, 10).c_str());
    EXPECT_EQ(bytes.size(), 125u + 410u * static_cast<std::size_t>(count)) << what;
    for (long n = 1; n <= count && 125 + 410 * n <= static_cast<long>(bytes.size()); ++n)
        EXPECT_EQ(std::atol(fieldAt(bytes, 125 + 410 * (n - 1), 5).c_str()), n) << what << " record " << n;
}

class HostileInput : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!fileExists(programPath(GetParam()))) GTEST_SKIP() << GetParam() << " is not built yet";
    }
    void seedBoard() {
        site.writeStandardConfig();
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(3, 1));
        for (int n = 1; n <= 3; ++n) site.writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "body\n");
    }
    ScratchSite site;
};

TEST_P(HostileInput, RequestsEndCleanlyAndKeepTheStore) {
    seedBoard();
    for (const Hostile& h : hostileRequests()) {
        const std::string before = site.readBoardFile(1, "guestbook.dat");
        CgiResult result = runCgi(GetParam(), site.cgiBin(), h.request);
        expectHealthyRun(result, h.what);
        expectStoreSound(site, before, h.what);
    }
}

TEST_P(HostileInput, HostileConfigurationFiles) {
    seedBoard();
    const std::vector<std::pair<std::string, std::string>> configs = {
        {"very long lines", "BASE_DIR /" + std::string(100000, 'a') + "/\nBBS_DIR " + site.bbsDir() + "\n" +
                                "EMAIL " + std::string(70000, 'e') + "\n1 " + std::string(5000, 't') + "\n"},
        {"NUL bytes", bytesOf("BASE_DIR /\0x/\nBBS_DIR ") + site.bbsDir() + bytesOf("\0\0\n1 t\0.gif\n")},
        {"binary", bytesOf("\xff\xfe\x00\x01\x80\x81\r\r\n\\\\\\") + std::string(3000, '\x9c')},
        {"only a backslash", "BBS_DIR \\"},
    };
    CgiRequest request;
    request.query = "1&1";
    for (const auto& config : configs) {
        site.writeConfig(config.second);
        const std::string before = site.readBoardFile(1, "guestbook.dat");
        expectHealthyRun(runCgi(GetParam(), site.cgiBin(), request), config.first);
        expectStoreSound(site, before, config.first);
    }
}

TEST_P(HostileInput, DamagedIndexFiles) {
    site.writeStandardConfig();
    const std::string good = indexOfMessages(3, 1);
    std::string twelveDigits = good;
    twelveDigits.replace(10, 10, std::string("9999999999", 10));  // the field is ten bytes wide, no NUL left
    std::string bigCount = headerBytes(4, 3, 1) + good.substr(125);
    bigCount.replace(10, 10, std::string("999999999\0", 10));
    std::string noNul = good;
    for (std::size_t k = 125; k < noNul.size(); ++k) noNul[k] = noNul[k] ? noNul[k] : 'Z';
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"count without NUL", twelveDigits},
        {"count of nine digits", bigCount},
        {"records without NUL bytes", noNul},
        {"cut in the middle of a record", good.substr(0, 125 + 410 + 200)},
        {"cut in the header", good.substr(0, 60)},
        {"empty index", ""},
    };
    for (const auto& board : damaged) {
        site.writeBoardFile(1, "guestbook.dat", board.second);
        for (const char* query : {"1&1", "1&2", "1&3", "1&0", "1&-1"}) {
            // The first and the sixth value are the password, so every
            // program gets as far as the store.
            CgiRequest request;
            request.query = query;
            request.body = "n=secret&e=&h=&s=S&b=B&p=secret";
            CgiResult result = runCgi(GetParam(), site.cgiBin(), request);
            expectHealthyRun(result, board.first + " " + query);
            expectStoreSound(site, board.second, board.first + " " + query);
            site.writeBoardFile(1, "guestbook.dat", board.second);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, HostileInput, ::testing::ValuesIn(kPrograms));

}  // namespace
