// The spam defences through the FastCGI responder: one worker serves every
// request, so anything a request left behind would show in the next one.
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string>
#include <sys/stat.h>

#include "cgi_runner.h"
#include "spam/form_token.h"
#include "responder_process.h"
#include "scratch_site.h"

namespace {

const std::string kSecret = "9a8b7c6d5e4f30211203f4e5d6c7b8a9";

std::map<std::string, std::string> params(const std::string& program, const std::string& query, const std::string& body,
                                          const std::string& address) {
    return {{"GATEWAY_INTERFACE", "CGI/1.1"},
            {"REQUEST_METHOD", "POST"},
            {"SCRIPT_NAME", "/cgi-bin/" + program + ".exe"},
            {"QUERY_STRING", query},
            {"CONTENT_LENGTH", std::to_string(body.size())},
            {"REMOTE_ADDR", address}};
}

std::string servedToken(const std::string& page) {
    std::size_t at = page.find("name=token value=\"");
    if (at == std::string::npos) return "";
    at += 18;
    return page.substr(at, page.find('"', at) - at);
}

}  // namespace

TEST(SpamResponder, OneWorkerCarriesNothingFromOnePostToTheNext) {
    ScratchSite site;
    site.boardDir(1);
    ::mkdir((site.bbsDir() + "throttle").c_str(), 0700);
    writeFile(site.root() + "/form.key", kSecret + "\n");
    site.writeConfig("BASE_DIR /bbs/\nBBS_DIR " + site.bbsDir() + "\nEMAIL admin@example.org\nPassword secret\nFORM_TOKEN " +
                     site.root() + "/form.key 3\nHONEYPOT on\nPOST_LIMIT 2 600\n1 title1.gif\n");
    ResponderProcess responder(site.cgiBin(), 1);
    auto post = [&](const std::string& token, const std::string& address, const std::string& text) {
        std::string body = "name=K&email=&homepage=&subject=S&body=" + text + "&token=" + token + "&website=";
        return responder.request(params("SavePage", "BoardNum=1&TextNum=-1", body, address), body);
    };
    auto fresh = [] { return makeFormToken(kSecret, 1, std::time(nullptr) - 10, freshNonce()); };

    std::string served = servedToken(responder.request(params("FormPage", "BoardNum=1", "", "192.0.2.1"), "").output);
    ASSERT_FALSE(served.empty());
    FcgiResult early = post(served, "192.0.2.1", "early");
    EXPECT_EQ(early.status, 1);
    EXPECT_NE(early.output.find("Please wait a little"), std::string::npos);

    std::string once = fresh();
    EXPECT_EQ(post(once, "192.0.2.1", "first").status, 0);
    EXPECT_NE(post(once, "192.0.2.2", "again").output.find("Please open the form anew"), std::string::npos);
    EXPECT_EQ(post(fresh(), "192.0.2.1", "second").status, 0);
    EXPECT_NE(post(fresh(), "192.0.2.1", "third").output.find("Please wait a little"), std::string::npos);
    EXPECT_EQ(post(fresh(), "192.0.2.3", "other").status, 0);
    // Once stopped, the worker has carried out what it committed.
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_EQ((readFile(site.bbsDir() + "1/guestbook.dat").size() - 125) / 410, 3u);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}
