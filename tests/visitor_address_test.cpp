// The visitor's address behind a reverse proxy: believed only from a proxy
// the configuration names, for the guessing limit and the stored host.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "board_files.h"
#include "cgi_runner.h"
#include "permission/guess_throttle.h"
#include "scratch_site.h"
#include "config/visitor_address.h"

TEST(VisitorAddress, HeaderBelievedOnlyFromATrustedProxy) {
    TrustedProxies none;
    TrustedProxies proxy;
    EXPECT_EQ(proxy.addAll("127.0.0.1  ::1, 10.0.0.5 not-an-address"), 1);
    EXPECT_TRUE(proxy.contains("::ffff:127.0.0.1"));
    EXPECT_TRUE(proxy.contains("0:0::1"));
    EXPECT_FALSE(proxy.contains("127.0.0.2"));
    EXPECT_FALSE(proxy.contains(nullptr));

    // Untrusted sender, or no proxy configured: the header is ignored.
    EXPECT_EQ(visitorAddress("192.0.2.9", "198.51.100.1", proxy), "192.0.2.9");
    EXPECT_EQ(visitorAddress("127.0.0.1", "198.51.100.1", none), "127.0.0.1");
    EXPECT_EQ(visitorAddress(nullptr, "198.51.100.1", proxy), "");
    // From the proxy: the last address the proxy chain did not add itself.
    EXPECT_EQ(visitorAddress("127.0.0.1", "198.51.100.1", proxy), "198.51.100.1");
    EXPECT_EQ(visitorAddress("127.0.0.1", "6.6.6.6, 198.51.100.1", proxy), "198.51.100.1");
    EXPECT_EQ(visitorAddress("127.0.0.1", "6.6.6.6, 198.51.100.1 ,10.0.0.5", proxy), "198.51.100.1");
    EXPECT_EQ(visitorAddress("::1", " 2001:DB8::0:1 ", proxy), "2001:db8::1");
    EXPECT_EQ(visitorAddress("127.0.0.1", "[2001:db8::2]", proxy), "2001:db8::2");
    // Every hop trusted: the first one.
    EXPECT_EQ(visitorAddress("127.0.0.1", "10.0.0.5, 127.0.0.1", proxy), "10.0.0.5");
    // What is no address ends the walk at the proxy itself.
    EXPECT_EQ(visitorAddress("127.0.0.1", "198.51.100.1, evil<b>", proxy), "127.0.0.1");
    EXPECT_EQ(visitorAddress("127.0.0.1", "", proxy), "127.0.0.1");
    EXPECT_EQ(visitorAddress("127.0.0.1", nullptr, proxy), "127.0.0.1");
    EXPECT_EQ(visitorAddress("127.0.0.1", "198.51.100.1,", proxy), "127.0.0.1");
    EXPECT_FALSE(forwardedByTrustedProxy("127.0.0.1", "x", proxy));
    EXPECT_FALSE(forwardedByTrustedProxy("192.0.2.9", "198.51.100.1", proxy));
    EXPECT_TRUE(forwardedByTrustedProxy("127.0.0.1", "198.51.100.1", proxy));
}

namespace {

class ProxiedSite : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir((site.bbsDir() + kThrottleDirName).c_str(), 0755);
        site.writeBoardFile(1, "guestbook.dat", indexOfMessages(3, 1));
        for (int n = 1; n <= 3; ++n) site.writeBoardFile(1, "guestbook" + std::to_string(n) + ".html", "body");
    }
    void configure(const std::string& proxyLines) {
        site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL a@b\nPassword secret\n" + proxyLines +
                         "1 title1.gif\n");
    }
    CgiResult run(const std::string& program, const std::string& query, const std::string& form,
                  const std::string& forwardedFor) {
        CgiRequest request;
        request.query = query;
        request.body = form;
        request.env = {{"REMOTE_ADDR", "127.0.0.1"}, {"REMOTE_HOST", "proxy.local"}};
        if (!forwardedFor.empty()) request.env["HTTP_X_FORWARDED_FOR"] = forwardedFor;
        return runCgi(program, site.cgiBin(), request);
    }
    bool denied(const std::string& forwardedFor, const char* password) {
        return pageOf(run("EditPage", "BoardNum=1&TextNum=1", std::string("password=") + password, forwardedFor))
                   .find("Access denied.") != std::string::npos;
    }
    std::string storedHost(const std::string& forwardedFor) {
        EXPECT_EQ(run("SavePage", "BoardNum=1&TextNum=-1", "n=K&e=&h=&s=S&b=B", forwardedFor).status, 0);
        std::string index = site.readBoardFile(1, "guestbook.dat");
        return fieldAt(index.substr(index.size() - 410), 260, 50);
    }
    ScratchSite site;
};

}  // namespace

TEST_F(ProxiedSite, TrustedProxyCountsEachVisitorApart) {
    configure("TRUSTED_PROXY 10.9.9.9\nTRUSTED_PROXY ::1 127.0.0.1\n");
    for (int i = 0; i < kGuessLimit; ++i) EXPECT_TRUE(denied("203.0.113." + std::to_string(i), "guess"));
    EXPECT_TRUE(denied("6.6.6.6, 198.51.100.7", "guess"));
    // The owner behind the same proxy is not shut out by the guesses of others.
    EXPECT_FALSE(denied("198.51.100.1", "secret"));
    for (int i = 0; i < kGuessLimit; ++i) denied("198.51.100.2", "guess");
    EXPECT_TRUE(denied("198.51.100.2", "secret"));
    // A forged first hop does not change who the proxy saw.
    EXPECT_TRUE(denied("198.51.100.1, 198.51.100.2", "secret"));
    EXPECT_FALSE(denied("198.51.100.2, 198.51.100.1", "secret"));
    EXPECT_EQ(storedHost("198.51.100.3"), "198.51.100.3");
    EXPECT_EQ(storedHost("evil, 2001:db8::7"), "2001:db8::7");
    // Nothing forwarded: the proxy's own name, as without a proxy.
    EXPECT_EQ(storedHost(""), "proxy.local");
}

TEST_F(ProxiedSite, WithoutATrustedProxyTheHeaderIsIgnored) {
    // No line; then a line naming another proxy; then one cut at the
    // reader's buffer, which might name a shortened address.
    std::string cut = "TRUSTED_PROXY ";
    for (int i = 0; i < 8; ++i) cut += "10.0.0.1 ";
    for (int i = 0; i < 16; ++i) cut += "10.0.0.11 ";
    cut += "127.0.0.10\n";  // the buffer ends after "127.0.0.1"
    for (const std::string& lines : {std::string(), std::string("TRUSTED_PROXY 10.0.0.1\n"), cut}) {
        configure(lines);
        ::unlink((site.bbsDir() + kThrottleDirName + kThrottleName).c_str());
        // A forged header on each guess does not escape the count.
        for (int i = 0; i < kGuessLimit; ++i) EXPECT_TRUE(denied("203.0.113." + std::to_string(i), "guess"));
        EXPECT_TRUE(denied("198.51.100.1", "secret")) << lines;
        EXPECT_EQ(storedHost("198.51.100.3"), "proxy.local");
    }
}
