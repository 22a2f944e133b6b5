// SavePage's own limit on the form body, for servers that do not cap it.
#include <gtest/gtest.h>

#include <string>

#include "cgi_runner.h"
#include "scratch_site.h"

namespace {

constexpr std::size_t kLimit = 512 * 1024;

class FormSize : public ::testing::Test {
protected:
    void SetUp() override {
        site.writeStandardConfig();
        site.boardDir(1);
    }
    CgiResult post(const std::string& body, const std::string& contentLength = "", bool noLength = false) {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=-1";
        request.body = body;
        request.contentLength = contentLength;
        request.noContentLength = noLength;
        request.env = {{"REMOTE_HOST", "client.example"}};
        return runCgi("SavePage", site.cgiBin(), request);
    }
    // A form whose body value pads the whole to exactly `size` bytes.
    static std::string formOf(std::size_t size) {
        std::string head = "name=Kim&email=&homepage=&subject=Big&body=";
        return head + std::string(size - head.size(), 'x');
    }
    ScratchSite site;
};

const char kRefusal[] =
    "<font color=228b22 size=3>글이 너무 깁니다. 512 kB까지만 올릴 수 있습니다!!!<br>"
    "The message is too long: at most 512 kB may be posted!!!</font><br>";

}  // namespace

TEST_F(FormSize, A100kBKoreanMessageStillPosts) {
    // Every byte percent-encoded, as a browser sends EUC-KR text.
    std::string body = "name=Kim&email=&homepage=&subject=Big&body=";
    for (int i = 0; i < 50 * 1024; ++i) body += "%C7%D1";
    ASSERT_LT(body.size(), kLimit);
    CgiResult result = post(body);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pageOf(result).find(kRefusal), std::string::npos);
    std::string stored = site.readBoardFile(1, "guestbook1.html");
    EXPECT_EQ(stored.size(), 100u * 1024);
    EXPECT_EQ(stored.substr(0, 4), "\xC7\xD1\xC7\xD1");
}

TEST_F(FormSize, BodiesUpToTheLimitPostAndOneByteMoreIsRefused) {
    CgiResult atLimit = post(formOf(kLimit));
    EXPECT_EQ(atLimit.status, 0);
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html").size(), kLimit - 43);

    std::string indexBefore = site.readBoardFile(1, "guestbook.dat");
    CgiResult over = post(formOf(kLimit + 1));
    EXPECT_EQ(over.status, 1);
    std::string page = pageOf(over);
    EXPECT_NE(page.find(kRefusal), std::string::npos);
    // The common error page, with the site's footer from the configuration.
    EXPECT_NE(page.find("<a href=mailto:admin@example.org>"), std::string::npos);
    EXPECT_EQ(site.readBoardFile(1, "guestbook.dat"), indexBefore);
    EXPECT_FALSE(site.boardFileExists(1, "guestbook2.html"));
}

TEST_F(FormSize, AClaimedLengthOverTheLimitIsRefusedBeforeReading) {
    // The claim alone decides: nothing of the body is read or stored.
    for (const char* claim : {"524289", "52428800", "2147483647", "99999999999"}) {
        CgiResult result = post("name=Kim&e=&h=&subject=S&body=short", claim);
        EXPECT_EQ(result.status, 1) << claim;
        EXPECT_NE(pageOf(result).find(kRefusal), std::string::npos) << claim;
    }
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    EXPECT_FALSE(site.boardFileExists(1, "guestbook1.html"));
}

TEST_F(FormSize, ANegativeLengthReadsAtMostTheLimit) {
    CgiResult small = post("name=Kim&e=&h=&subject=S&body=short", "-1");
    EXPECT_EQ(small.status, 0);
    EXPECT_EQ(site.readBoardFile(1, "guestbook1.html"), "short");

    for (std::size_t size : {kLimit + 1, 4 * kLimit}) {
        CgiResult result = post(formOf(size), "-2147483648");
        EXPECT_EQ(result.status, 1) << size;
        EXPECT_NE(pageOf(result).find(kRefusal), std::string::npos) << size;
    }
    EXPECT_FALSE(site.boardFileExists(1, "guestbook2.html"));
    // A body of exactly the limit with a negative length still posts.
    EXPECT_EQ(post(formOf(kLimit), "-5").status, 0);
    EXPECT_TRUE(site.boardFileExists(1, "guestbook2.html"));
}

TEST_F(FormSize, NoLengthOrZeroReadsNoBody) {
    // The form pairs on standard input are never read: the missing-fields
    // page, and nothing stored.
    for (bool absent : {true, false}) {
        CgiResult result = post("name=Kim&e=&h=&subject=S&body=short", absent ? "" : "0", absent);
        EXPECT_EQ(result.status, 0) << absent;
        EXPECT_NE(pageOf(result).find("You should write your name, title and comment!!!"), std::string::npos) << absent;
    }
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    EXPECT_FALSE(site.boardFileExists(1, "guestbook1.html"));
}
