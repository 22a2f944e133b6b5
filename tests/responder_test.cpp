// The FastCGI responder against the CGI programs: the same requests, in
// the same order, to two identical sites must give the same responses,
// statuses and board files; and the responder's own duties (one request
// costs at most itself, configuration read per request, a clean stop).
#include <gtest/gtest.h>

#include <algorithm>
#include <crypt.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cgi_runner.h"
#include "fcgi_client.h"
#include "responder_process.h"
#include "scratch_site.h"

namespace {

const char* const kPrograms[] = {"ListPage", "ShowPage", "FormPage", "SavePage", "EditPage", "DropPage"};
constexpr long kClock = 1700000000;  // 2023-11-14, fixed for both sides

// One request as a web server hands it to either side.
struct Call {
    std::string program;
    std::optional<std::string> query;
    std::string body;
    std::optional<std::string> contentLength;  // the body's size when unset
    bool noContentLength = false;
    std::map<std::string, std::string> env;
};

std::string describe(const Call& call) {
    std::string text = call.program + "?" + (call.query ? call.query->substr(0, 80) : "(none)");
    text += " body " + std::to_string(call.body.size()) + " bytes";
    if (call.noContentLength) text += ", no CONTENT_LENGTH";
    if (call.contentLength) text += ", CONTENT_LENGTH " + *call.contentLength;
    for (const auto& [name, value] : call.env) text += ", " + name + "=" + value.substr(0, 40);
    return text;
}

CgiResult runAsCgi(const Call& call, const std::string& cgiBin, long clock) {
    CgiRequest request;
    request.query = call.query.value_or("");
    request.noQuery = !call.query;
    request.body = call.body;
    request.contentLength = call.contentLength.value_or("");
    request.noContentLength = call.noContentLength;
    request.env = call.env;
    request.env["GESIPAN_TEST_CLOCK"] = std::to_string(clock);
    return runCgi(call.program, cgiBin, request);
}

FcgiResult runAsFcgi(const Call& call, const ResponderProcess& responder) {
    std::map<std::string, std::string> params = {{"GATEWAY_INTERFACE", "CGI/1.1"},
                                                 {"REQUEST_METHOD", "POST"},
                                                 {"SCRIPT_NAME", "/cgi-bin/" + call.program + ".exe"}};
    if (call.query) params["QUERY_STRING"] = *call.query;
    if (!call.noContentLength) params["CONTENT_LENGTH"] = call.contentLength.value_or(std::to_string(call.body.size()));
    for (const auto& [name, value] : call.env) params[name] = value;
    // A request cannot move the responder's clock, whatever it sends.
    params["GESIPAN_TEST_CLOCK"] = "86400";
    params["HTTP_GESIPAN_TEST_CLOCK"] = "86400";
    return responder.request(params, call.body);
}

std::string siteConfig(const std::string& password, bool boardFour) {
    // BBS_DIR relative to cgi-bin/, so that both sites print the same paths.
    // With board 4 comes a proxy, whose X-Forwarded-For is believed.
    return "BASE_DIR /bbs/\nBBS_DIR ../boards/\nEMAIL admin@example.org\nPassword " + password +
           "\n1 title1.gif\n2 title2.gif\n3 title3.gif board3@example.org\n" +
           (boardFour ? "4 title4.gif\nTRUSTED_PROXY 192.0.2.2\n" : "");
}

void prepareSite(ScratchSite& site) {
    site.writeConfig(siteConfig("secret", false));
    for (int board = 1; board <= 4; ++board) site.boardDir(board);
    ::mkdir((site.bbsDir() + "throttle").c_str(), 0755);
}

// Every file under boards/, by its path there, read as a reader reads: under
// each board's shared lock, so only once a change the responder carries out
// after its answer is done.
std::map<std::string, std::string> boardFiles(const ScratchSite& site) {
    std::map<std::string, std::string> files;
    const std::filesystem::path root = site.bbsDir();
    std::vector<int> locks;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        int fd = ::open((entry.path() / "guestbook.lock").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock shared = {};
        shared.l_type = F_RDLCK;
        shared.l_whence = SEEK_SET;
        EXPECT_EQ(::fcntl(fd, F_SETLKW, &shared), 0) << entry.path();
        locks.push_back(fd);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(entry.path(), root).string();
        files[name] = entry.is_regular_file() ? readFile(entry.path().string()) : std::string("(directory)");
    }
    for (int fd : locks) ::close(fd);
    return files;
}

std::string urlEncoded(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Random requests over all six pages: valid posts, edits, erases, views
// and listings, and the hostile inputs of the suite.
class CallMaker {
public:
    explicit CallMaker(unsigned seed) : random_(seed) {}

    std::string password = "secret";

    Call next() {
        int kind = pick(100);
        if (kind < 30) return post();
        if (kind < 45) return guarded("ShowPage", false);
        if (kind < 57) return listing();
        if (kind < 62) return form();
        if (kind < 72) return edit();
        if (kind < 82) return guarded("EditPage", true);
        if (kind < 92) return guarded("DropPage", true);
        return hostile();
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string board() {
        static const char* const boards[] = {"1", "1", "1", "2", "3", "4", "9", "0", "-1", "x", "99999999999"};
        return boards[pick(sizeof boards / sizeof *boards)];
    }

    std::string message() {
        int n = pick(20);
        if (n < 14) return std::to_string(1 + pick(9));
        static const char* const odd[] = {"0", "-1", "2147483647", "abc", "", "12"};
        return odd[n - 14];
    }

    std::string text() {
        static const char* const texts[] = {
            "Kim", "\xB1\xE8\xC3\xB6\xBC\xF6", "<script>alert(1)</script>", "<b>bold</b> &amp; <i>it</i>",
            "<img src=x onerror=alert(1)>", "a\r\nb\r\nc", "javascript:alert(1)", "50% + 50%", "\"quoted\" 'too'",
            "&#51088; &lt;", "<a href=\"http://example.org\">link</a>", "line<br>break", "\x1A\x7F\x01"};
        int n = pick(16);
        if (n < 13) return texts[n];
        if (n == 13) return std::string(300 + pick(200), 'w');
        if (n == 14) return "";
        return std::string(1 + pick(4000), "abc\r\n<p>"[pick(8)]);
    }

    std::map<std::string, std::string> client() {
        std::map<std::string, std::string> env;
        // Mostly the same few visitors; a guesser sends the wrong passwords.
        static const char* const addresses[] = {"192.0.2.1", "192.0.2.2", "198.51.100.7", "2001:db8::1"};
        env["REMOTE_ADDR"] = addresses[pick(4)];
        if (pick(3) == 0) env["REMOTE_HOST"] = pick(2) ? "host.example.org" : "<b>host</b>";
        if (pick(4) == 0) env["HTTP_X_FORWARDED_FOR"] = pick(2) ? "203.0.113.5" : "198.51.100.9, 192.0.2.2";
        return env;
    }

    // The site's password, or a wrong one from the guesser.
    std::string passwordFor(std::map<std::string, std::string>& env) {
        if (pick(10) < 8) return password;
        env["REMOTE_ADDR"] = "203.0.113.66";
        static const char* const wrong[] = {"guess", "", "secret ", "SECRET"};
        return wrong[pick(4)];
    }

    std::string fields(const std::string& extra) {
        std::string body = "name=" + urlEncoded(pick(10) ? text() : "") + "&email=" + urlEncoded(pick(2) ? "a@b.c" : text()) +
                           "&homepage=" + urlEncoded(pick(2) ? "http://example.org/" : text()) +
                           "&subject=" + urlEncoded(pick(10) ? text() : "") + "&body=" + urlEncoded(pick(10) ? text() : "");
        return body + extra;
    }

    Call post() {
        Call call{"SavePage", board() + "&-1", "", std::nullopt, false, client()};
        call.query = "BoardNum=" + board() + "&TextNum=-1";
        call.body = fields("");
        return call;
    }

    Call edit() {
        Call call{"SavePage", "BoardNum=" + board() + "&TextNum=" + message(), "", std::nullopt, false, client()};
        call.body = fields("&password=" + urlEncoded(passwordFor(call.env)));
        return call;
    }

    Call guarded(const std::string& program, bool withPassword) {
        Call call{program, "BoardNum=" + board() + "&TextNum=" + message(), "", std::nullopt, false, client()};
        if (withPassword) call.body = "password=" + urlEncoded(passwordFor(call.env));
        return call;
    }

    Call listing() {
        int t = pick(4);
        return Call{"ListPage", "BoardNum=" + board() + "&TextNum=" + (t == 0 ? message() : std::to_string(pick(3) * 10)),
                    "", std::nullopt, false, client()};
    }

    Call form() { return Call{"FormPage", "BoardNum=" + board() + "&TextNum=-1", "", std::nullopt, false, client()}; }

    // The hostile inputs of the suite, against any page.
    Call hostile() {
        Call call{kPrograms[pick(6)], "1&1", "", std::nullopt, false, client()};
        switch (pick(14)) {
            case 0: call.query = "1&" + std::string(100 * 1024, '9'); break;
            case 1: call.query = pick(2) ? "%" : "1&2%"; break;
            case 2: call.query = "99999999999999999999&-2147483648"; break;
            case 3: call.query = "&&&&&&&&&&"; break;
            case 4: call.query.reset(); break;
            case 5: call.body = fields(""); call.contentLength = "100000"; break;
            case 6: call.body = "name=a&subject=b"; call.contentLength = pick(2) ? "lots" : "-5"; break;
            case 7: call.body = fields(""); call.noContentLength = true; break;
            case 8: call.body = "name=a&subject=b&body=" + std::string(600 * 1024, 'x'); break;
            case 9: call.body = "name=a&body=x"; call.contentLength = "99999999999999"; break;
            case 10: {
                std::string pairs;
                for (int k = 0; k < 300; ++k) pairs += "f" + std::to_string(k) + "=v&";
                call.body = pairs;
                break;
            }
            case 11: call.body = "password=" + std::string(300, 's'); break;
            case 12: call.body = "%%%&=&==&%4"; break;
            default: call.body = std::string("name=\0a&subject=b\0&body=c", 26); break;
        }
        return call;
    }

    std::mt19937 random_;
};

struct TwoSites {
    TwoSites() {
        prepareSite(cgi);
        prepareSite(fcgi);
    }
    void writeConfig(const std::string& text) {
        cgi.writeConfig(text);
        fcgi.writeConfig(text);
    }
    ScratchSite cgi;
    ScratchSite fcgi;
};

// Runs `call` on both sides; false (and a failure) when they differ.
bool sameOnBothSides(const Call& call, TwoSites& sites, const ResponderProcess& responder, long clock, int index,
                     std::string* output) {
    CgiResult cgi = runAsCgi(call, sites.cgi.cgiBin(), clock);
    *output = cgi.output;
    FcgiResult fcgi = runAsFcgi(call, responder);
    EXPECT_TRUE(fcgi.ended) << "request " << index << " got no end: " << describe(call);
    EXPECT_EQ(cgi.signal, 0) << "request " << index << ": " << describe(call);
    EXPECT_EQ(fcgi.output, cgi.output) << "request " << index << ": " << describe(call);
    EXPECT_EQ(fcgi.status, cgi.status) << "request " << index << ": " << describe(call);
    EXPECT_EQ(fcgi.errors, "") << "request " << index;
    EXPECT_EQ(boardFiles(sites.fcgi), boardFiles(sites.cgi)) << "board files after request " << index << ": " << describe(call);
    return !::testing::Test::HasFailure();
}

}  // namespace

TEST(Responder, AnswersEveryRequestAsTheCgiProgramsDo) {
    TwoSites sites;
    const unsigned seed = 22;
    CallMaker maker(seed);
    std::optional<ResponderProcess> responder;
    responder.emplace(sites.fcgi.cgiBin(), 2, std::map<std::string, std::string>{{"GESIPAN_TEST_CLOCK", std::to_string(kClock)}});
    long clock = kClock;
    crypt_data data = {};
    const std::string hashed = crypt_rn("third", "$5$rounds=1000$saltsalt$", &data, sizeof data);
    constexpr int kRequests = 2000;
    std::map<std::string, int> seen;
    for (int i = 0; i < kRequests; ++i) {
        // The configuration changes under the responder (item: read per
        // request), and the responder restarts a day later.
        if (i == 700) {
            sites.writeConfig(siteConfig("second", true));
            maker.password = "second";
        }
        if (i == 1000) {
            EXPECT_EQ(responder->stop(), 0);
            EXPECT_FALSE(hasFaultReport(responder->errors())) << responder->errors();
            clock += 25 * 3600;
            responder.reset();
            responder.emplace(sites.fcgi.cgiBin(), 2, std::map<std::string, std::string>{{"GESIPAN_TEST_CLOCK", std::to_string(clock)}});
        }
        if (i == 1400) {
            sites.writeConfig(siteConfig(hashed, false));
            maker.password = "third";
        }
        Call call = maker.next();
        std::string page;
        if (!sameOnBothSides(call, sites, *responder, clock, i, &page)) break;
        for (const char* outcome : {"Successfully removed.", "Access denied.", "<caption>", "There is no data file!!!",
                                    "type=hidden name=password", "ShowPage.exe?BoardNum=1&TextNum=12", "Can't open 'GuestBook.conf'",
                                    "too long", "href=http://203.0.113.5>"}) {
            if (page.find(outcome) != std::string::npos) ++seen[outcome];
        }
    }
    EXPECT_EQ(responder->stop(), 0);
    const std::string errors = responder->errors();
    EXPECT_FALSE(hasFaultReport(errors)) << errors;
    // The sequence went where it should: posts stored and shown, erases,
    // denials, edit forms, listings of more than one page, refusals.
    for (const char* outcome : {"Successfully removed.", "Access denied.", "<caption>", "There is no data file!!!",
                                "type=hidden name=password", "ShowPage.exe?BoardNum=1&TextNum=12"}) {
        EXPECT_GE(seen[outcome], 10) << outcome;
    }
    EXPECT_GE(seen["too long"], 1);
    EXPECT_GE(seen["href=http://203.0.113.5>"], 1);
}

namespace {

// A request as a web server sends it to the responder.
std::map<std::string, std::string> paramsOf(const std::string& program, const std::string& query,
                                            const std::string& body = "") {
    return {{"SCRIPT_NAME", "/cgi-bin/" + program + ".exe"},
            {"QUERY_STRING", query},
            {"CONTENT_LENGTH", std::to_string(body.size())},
            {"REMOTE_ADDR", "192.0.2.1"}};
}

// The same request run as a CGI program in `site`.
CgiResult cgiOf(const ScratchSite& site, const std::string& program, const std::string& query,
                const std::string& body = "") {
    CgiRequest request;
    request.query = query;
    request.body = body;
    request.env["REMOTE_ADDR"] = "192.0.2.1";
    return runCgi(program, site.cgiBin(), request);
}

void expectSameAnswer(const FcgiResult& fcgi, const CgiResult& cgi) {
    EXPECT_TRUE(fcgi.ended);
    EXPECT_EQ(fcgi.output, cgi.output);
    EXPECT_EQ(fcgi.status, cgi.status);
}

const char kPost[] = "name=Kim&email=&homepage=&subject=Hello&body=first+line";

// Waits until the responder has `count` workers, none of them in `gone`.
bool waitForWorkers(const ResponderProcess& responder, std::size_t count, const std::vector<pid_t>& gone) {
    for (int tries = 0; tries < 500; ++tries) {
        std::vector<pid_t> now = responder.workers();
        bool fresh = now.size() == count;
        for (pid_t pid : now) fresh = fresh && std::find(gone.begin(), gone.end(), pid) == gone.end();
        if (fresh) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::size_t openFiles(pid_t pid) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        ++count;
    }
    return count;
}

// The worker's open files once it waits again: it closes a connection
// only after the answer has gone, so the fewest seen over a while.
std::size_t idleOpenFiles(pid_t pid) {
    std::size_t fewest = SIZE_MAX;
    for (int sample = 0; sample < 30; ++sample) {
        fewest = std::min(fewest, openFiles(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fewest;
}

// Waits until the worker holds a connection more than when idle.
bool waitUntilBusy(pid_t worker, std::size_t idle) {
    for (int tries = 0; tries < 500; ++tries) {
        if (openFiles(worker) > idle) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(Responder, ReadsTheConfigurationForEveryRequest) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    const std::string before = responder.request(paramsOf("FormPage", "BoardNum=4"), "").output;
    EXPECT_EQ(before.find("Image/title4.gif"), std::string::npos);
    site.writeConfig(siteConfig("secret", true));
    const FcgiResult after = responder.request(paramsOf("FormPage", "BoardNum=4"), "");
    expectSameAnswer(after, cgiOf(site, "FormPage", "BoardNum=4"));
    EXPECT_NE(after.output.find("Image/title4.gif"), std::string::npos);
    site.removeConfig();
    const FcgiResult missing = responder.request(paramsOf("ListPage", "BoardNum=1&TextNum=0"), "");
    expectSameAnswer(missing, cgiOf(site, "ListPage", "BoardNum=1&TextNum=0"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

TEST(Responder, AWorkerThatDiesCostsOnlyItsRequest) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    const std::vector<pid_t> first = responder.workers();
    ASSERT_EQ(first.size(), 1u);
    const std::size_t idle = idleOpenFiles(first[0]);
    // The worker dies while it reads a post's body.
    int connection = startFcgi(responder.socketPath(), paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), "name=K");
    ASSERT_GE(connection, 0);
    ASSERT_TRUE(waitUntilBusy(first[0], idle));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(first[0], SIGSEGV);
    const FcgiResult cut = finishFcgi(connection, std::string(kPost).substr(6));
    EXPECT_FALSE(cut.ended);
    ASSERT_TRUE(waitForWorkers(responder, 1, first)) << responder.errors();
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    // Its replacement answers as if nothing had happened.
    expectSameAnswer(responder.request(paramsOf("ListPage", "BoardNum=1&TextNum=0"), ""),
                     cgiOf(site, "ListPage", "BoardNum=1&TextNum=0"));
    const FcgiResult post = responder.request(paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), kPost);
    EXPECT_EQ(post.status, 0);
    EXPECT_NE(post.output.find("first line"), std::string::npos);
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_NE(responder.errors().find("worker"), std::string::npos);
}

TEST(Responder, StopsOnlyAfterTheRequestInProgress) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    const pid_t worker = responder.workers().at(0);
    const std::size_t idle = idleOpenFiles(worker);
    int connection = startFcgi(responder.socketPath(), paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), "name=K");
    ASSERT_GE(connection, 0);
    ASSERT_TRUE(waitUntilBusy(worker, idle));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(responder.pid(), SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const FcgiResult finished = finishFcgi(connection, std::string(kPost).substr(6));
    EXPECT_TRUE(finished.ended);
    EXPECT_EQ(finished.status, 0);
    EXPECT_NE(finished.output.find("first line"), std::string::npos);
    EXPECT_EQ(responder.stop(), 0);
    // The post was carried out too, after its answer, before the worker ended.
    EXPECT_TRUE(site.boardFileExists(1, "guestbook1.html"));
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.redo"));
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
    // A stopped responder leaves its socket behind no more than it found it.
    EXPECT_FALSE(fileExists(responder.socketPath()));
}

TEST(Responder, AnswersRequestsOnAConnectionKeptOpen) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    int connection = connectFcgi(responder.socketPath());
    ASSERT_GE(connection, 0);
    const FcgiResult post =
        requestOnKeptConnection(connection, paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), kPost);
    EXPECT_EQ(post.status, 0);
    expectSameAnswer(requestOnKeptConnection(connection, paramsOf("ListPage", "BoardNum=1&TextNum=0"), ""),
                     cgiOf(site, "ListPage", "BoardNum=1&TextNum=0"));
    ::close(connection);
    // The worker goes back to new connections once the server lets go.
    expectSameAnswer(responder.request(paramsOf("FormPage", "BoardNum=1"), ""), cgiOf(site, "FormPage", "BoardNum=1"));
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

TEST(Responder, ServesASocketHandedOverAsStandardInput) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 2, {}, true);
    expectSameAnswer(responder.request(paramsOf("ListPage", "BoardNum=1&TextNum=0"), ""),
                     cgiOf(site, "ListPage", "BoardNum=1&TextNum=0"));
    const FcgiResult unknown = responder.request(paramsOf("gesipan", ""), "");
    EXPECT_TRUE(unknown.ended);
    EXPECT_EQ(unknown.output.rfind("Status: 404 Not Found\r\n", 0), 0u) << unknown.output;
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
    // The socket was the spawner's: it stays.
    EXPECT_TRUE(fileExists(responder.socketPath()));
}

TEST(Responder, NothingOfARequestOutlivesIt) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    const pid_t worker = responder.workers().at(0);
    responder.request(paramsOf("FormPage", "BoardNum=1"), "");
    const std::size_t files = idleOpenFiles(worker);
    // Posts, views, edits, erases, denials and refusals, one after another
    // on the one worker.
    for (int round = 0; round < 40; ++round) {
        const std::string text = "BoardNum=1&TextNum=" + std::to_string(1 + round % 3);
        responder.request(paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), kPost);
        responder.request(paramsOf("ShowPage", text), "");
        responder.request(paramsOf("EditPage", text, "password=secret"), "password=secret");
        responder.request(paramsOf("SavePage", text, std::string(kPost) + "&password=secret"),
                          std::string(kPost) + "&password=secret");
        if (round % 2) responder.request(paramsOf("DropPage", text, "password=secret"), "password=secret");
        responder.request(paramsOf("ListPage", "BoardNum=9&TextNum=x"), "");
        responder.request(paramsOf("SavePage", "BoardNum=1&TextNum=-1", "name="), "name=");
    }
    EXPECT_EQ(idleOpenFiles(worker), files);
    EXPECT_EQ(responder.workers(), std::vector<pid_t>{worker});
    // Then answers as a fresh CGI run does (pages that change nothing).
    for (const char* program : {"ListPage", "FormPage", "EditPage", "SavePage", "DropPage"}) {
        const std::string query = std::string("BoardNum=1&TextNum=") + (program == std::string("DropPage") ? "99" : "2");
        expectSameAnswer(responder.request(paramsOf(program, query, "password=secret"), "password=secret"),
                         cgiOf(site, program, query, "password=secret"));
    }
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

namespace {

// The worker's resident memory in kB, by /proc.
long residentKb(pid_t pid) {
    const std::string status = readFile("/proc/" + std::to_string(pid) + "/status");
    const std::size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

}  // namespace

TEST(Responder, ErrorPathsLeaveNoFileOrMemoryBehind) {
    ScratchSite site;
    prepareSite(site);
    // Freed memory is not held back for checking, so what stays resident is what is kept.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string saved = asan ? asan : "";
    ::setenv("ASAN_OPTIONS", (saved + ":quarantine_size_mb=0").c_str(), 1);
    ResponderProcess responder(site.cgiBin(), 1);
    ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
    const pid_t worker = responder.workers().at(0);
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(responder.request(paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), kPost).status, 0);
    }
    // Message 2's body file (once the post is carried out after its answer)
    // far larger than any post makes, sparse.
    ASSERT_EQ(boardFiles(site).count("1/guestbook2.html"), 1u);
    ASSERT_EQ(::truncate((site.bbsDir() + "1/guestbook2.html").c_str(), 100LL << 30), 0);
    const std::string huge(600 * 1024, 'x');
    struct Case {
        const char* program;
        const char* query;
        std::string body;
        const char* answer;  // in the page
    };
    const Case cases[] = {
        {"ShowPage", "BoardNum=1&TextNum=2", "", "Can't open"},
        {"EditPage", "BoardNum=1&TextNum=2", "password=secret", "Can't open"},
        {"ShowPage", "BoardNum=1&TextNum=99", "", "There is no message 99"},
        {"ListPage", "BoardNum=9&TextNum=0", "", ""},
        {"EditPage", "BoardNum=1&TextNum=1", "password=wrong", ""},
        {"DropPage", "BoardNum=1&TextNum=1", "password=wrong", ""},
        {"SavePage", "BoardNum=1&TextNum=-1", "name=", ""},
        {"SavePage", "BoardNum=1&TextNum=-1", "body=" + huge, "too long"},
        {"ShowPage", "BoardNum=1&TextNum=1", "", "first line"},
    };
    // Each answer as expected; the first that is not, shown.
    auto ask = [&](int times) {
        for (int k = 0; k < times; ++k) {
            const Case& c = cases[static_cast<std::size_t>(k) % (sizeof cases / sizeof cases[0])];
            const FcgiResult answer = responder.request(paramsOf(c.program, c.query, c.body), c.body);
            if (!answer.ended || answer.output.find(c.answer) == std::string::npos) {
                ADD_FAILURE() << c.program << "?" << c.query << ": " << answer.output;
                return;
            }
        }
    };
    ask(10);
    const std::size_t files = idleOpenFiles(worker);
    const long resident = residentKb(worker);
    ask(1000);
    EXPECT_EQ(idleOpenFiles(worker), files);
    // Allocators keep a little of what was freed; a request's leak would be
    // its 4 MiB body, or 600 kB of form, a thousand times over.
    EXPECT_LT(residentKb(worker), resident + 2048) << "from " << resident << " kB";
    EXPECT_EQ(responder.workers(), std::vector<pid_t>{worker});
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

#if defined(__SANITIZE_ADDRESS__)
TEST(Responder, ARequestOutOfMemoryCostsOnlyItself) {
    ScratchSite site;
    prepareSite(site);
    // Allocations above 2 MB fail, on both sides.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string saved = asan ? asan : "";
    ::setenv("ASAN_OPTIONS", (saved + ":allocator_may_return_null=1:max_allocation_size_mb=2").c_str(), 1);
    {
        ResponderProcess responder(site.cgiBin(), 1);
        const std::string huge = "password=" + std::string(3 * 1024 * 1024, 's');
        const CgiResult cgi = cgiOf(site, "EditPage", "BoardNum=1&TextNum=1", huge);
        EXPECT_EQ(cgi.status, 1);
        EXPECT_NE(cgi.output.find("Out of memory.\n"), std::string::npos);
        expectSameAnswer(responder.request(paramsOf("EditPage", "BoardNum=1&TextNum=1", huge), huge), cgi);
        expectSameAnswer(responder.request(paramsOf("ListPage", "BoardNum=1&TextNum=0"), ""),
                         cgiOf(site, "ListPage", "BoardNum=1&TextNum=0"));
        EXPECT_EQ(responder.stop(), 0);
        const std::string errors = responder.errors();
        EXPECT_EQ(errors.find("worker"), std::string::npos) << errors;
        EXPECT_EQ(errors.find("LeakSanitizer"), std::string::npos) << errors;
    }
    ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
}
#endif

namespace {

// Runs the responder with `args` to its end (it refuses them); its status.
int refusedStart(const std::vector<std::string>& args) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<std::string> words = {responderPath()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::freopen("/dev/null", "w", stderr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Responder, ListensOnlyWhereItMaySafely) {
    ScratchSite site;
    // FastCGI has no authentication: no address beyond the loopback.
    EXPECT_EQ(refusedStart({"--listen", "0.0.0.0:9"}), 2);
    EXPECT_EQ(refusedStart({"--listen", "192.0.2.1:9"}), 2);
    EXPECT_EQ(refusedStart({"--listen", "127.0.0.1"}), 2);
    // A file at the socket's path is neither replaced nor removed.
    const std::string taken = site.root() + "/taken";
    writeFile(taken, "keep");
    EXPECT_EQ(refusedStart({"--socket", taken}), 2);
    EXPECT_EQ(readFile(taken), "keep");
    // Standard input that is no listening socket.
    EXPECT_EQ(refusedStart({"--workers", "1"}), 2);
    // Deadlines and pool sizes that are no whole number in range.
    for (const char* option : {"--workers", "--max-workers", "--header-timeout", "--body-timeout", "--idle-timeout"}) {
        for (const char* value : {"0", "-1", "5s", "", "99999"}) {
            EXPECT_EQ(refusedStart({option, value, "--socket", taken + ".new"}), 2) << option << " " << value;
        }
    }
    EXPECT_FALSE(fileExists(taken + ".new"));
}

namespace {

enum : unsigned char { kBegin = 1, kAbort = 2, kParams = 4, kStdin = 5, kGetValues = 9 };

std::string beginRecord(int id, int role = 1, bool keep = false) {
    return fcgiRecord(kBegin, id, std::string{0, static_cast<char>(role), keep ? '\1' : '\0', 0, 0, 0, 0, 0});
}

// A name-value length in its four-byte form.
std::string longLength(unsigned length) {
    return {static_cast<char>(0x80 | (length >> 24)), static_cast<char>((length >> 16) & 0xFF),
            static_cast<char>((length >> 8) & 0xFF), static_cast<char>(length & 0xFF)};
}

std::string repeatedRecords(unsigned char type, int count, std::size_t size) {
    std::string out;
    for (int k = 0; k < count; ++k) out += fcgiRecord(type, 1, std::string(size, 'p'));
    return out;
}

const std::string kListQuery = "BoardNum=1&TextNum=0";

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Waits (up to `seconds`) until `state` holds.
template <typename State>
bool waitFor(State state, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!state()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

TEST(Responder, NoBytesOnTheSocketKillAWorker) {
    ScratchSite site;
    prepareSite(site);
    site.writeConfig(siteConfig("secret", false) + "EVENT_LOG ../events.log\n");
    ResponderProcess responder(site.cgiBin(), 1, {}, false, {"--header-timeout", "1"});
    const pid_t worker = responder.workers().at(0);
    const std::string listing = fcgiRequestBytes(paramsOf("ListPage", kListQuery), "");
    const std::string listed = cgiOf(site, "ListPage", kListQuery).output;
    struct Case {
        const char* what;
        std::string bytes;
        int protocolStatus;      // of the one END_REQUEST expected; -1: none, the connection dropped
        std::string management;  // a management answer expected before it
        bool listing;            // the request answered is the listing
    };
    const std::string tail = fcgiRecord(kParams, 1, "") + fcgiRecord(kStdin, 1, "");
    const Case cases[] = {
        {"pair lengths adding up past 2^31",
         beginRecord(1) + fcgiRecord(kParams, 1, longLength(0x40000000) + longLength(0x40000000) + std::string(100, 'x')) +
             tail,
         -1, "", false},
        {"a name length past the end", beginRecord(1) + fcgiRecord(kParams, 1, longLength(0x7FFFFFFF) + "\1ab") + tail,
         -1, "", false},
        {"a value length past the end", beginRecord(1) + fcgiRecord(kParams, 1, "\1" + longLength(300) + "ab") + tail,
         -1, "", false},
        {"a length cut short", beginRecord(1) + fcgiRecord(kParams, 1, std::string("\x80\x00", 2)) + tail, -1, "", false},
        {"an unknown protocol version", std::string("\x02\x01\x00\x01\x00\x08\x00\x00", 8) + std::string(8, '\0'), -1, "",
         false},
        {"a short BEGIN_REQUEST", fcgiRecord(kBegin, 1, std::string("\0\1", 2)), -1, "", false},
        {"BEGIN_REQUEST twice for one request", beginRecord(1) + beginRecord(1), -1, "", false},
        {"parameters beyond the limit", beginRecord(1) + repeatedRecords(kParams, 17, 65535), -1, "", false},
        {"a body beyond the limit",
         beginRecord(1) + fcgiRecord(kParams, 1, "") + repeatedRecords(kStdin, 130, 65535), -1, "", false},
        {"records of a request never begun", fcgiRecord(kParams, 7, "\1\1ab") + fcgiRecord(kStdin, 7, ""), -1, "", false},
        {"an unknown role", beginRecord(1, 3), 3, "", false},
        {"an abort while the request is read", beginRecord(1) + fcgiRecord(kAbort, 1, ""), 0, "", false},
        {"a question about the responder, then a request",
         fcgiRecord(kGetValues, 0, std::string("\x0f\0FCGI_MPXS_CONNS\x0d\0FCGI_MAX_REQS", 32)) + listing, 0,
         std::string("\x0f\1FCGI_MPXS_CONNS0\x0d\1FCGI_MAX_REQS1", 34), true},
        {"an unknown management record, then a request", fcgiRecord(77, 0, "") + listing, 0, std::string("M\0\0\0\0\0\0\0", 8),
         true},
    };
    std::size_t dropped = 0;
    for (const Case& c : cases) {
        const int fd = connectFcgi(responder.socketPath());
        ASSERT_GE(fd, 0);
        bool closed = false;
        const std::vector<FcgiResult> answers = exchangeRaw(fd, c.bytes, 1, &closed);
        ::close(fd);
        const FcgiResult& first = answers.front();
        EXPECT_EQ(first.ended, c.protocolStatus >= 0) << c.what;
        EXPECT_EQ(first.protocolStatus, c.protocolStatus) << c.what;
        EXPECT_EQ(first.management, c.management) << c.what;
        if (c.listing) {
            EXPECT_EQ(first.output, listed) << c.what;
        }
        if (c.protocolStatus < 0) {
            EXPECT_TRUE(closed) << c.what;
            ++dropped;
        }
        // The same worker, and it answers the next visitor as before.
        EXPECT_EQ(responder.workers(), std::vector<pid_t>{worker}) << c.what << "\n" << responder.errors();
        expectSameAnswer(responder.request(paramsOf("ListPage", kListQuery), ""), cgiOf(site, "ListPage", kListQuery));
    }
    EXPECT_EQ(responder.stop(), 0);
    const std::string errors = responder.errors();
    EXPECT_FALSE(hasFaultReport(errors)) << errors;
    // Every connection given up on is counted, with why.
    EXPECT_EQ(countOf(errors, "connection dropped: "), dropped) << errors;
    EXPECT_EQ(countOf(errors, "dropped: a parameter length past the end"), 4u) << errors;
    // And each is an event of the owner's log.
    EXPECT_EQ(countOf(readFile(site.root() + "/events.log"), "\"event\":\"dropped\""), dropped);
}

TEST(Responder, OneRequestAtATimeOnAConnectionAndPipelinedRequestsInOrder) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1);
    const auto request = [](const std::string& program, const std::string& query, int id, bool keep) {
        return fcgiRequestBytes(paramsOf(program, query), "", id, keep);
    };
    const std::string list = request("ListPage", kListQuery, 1, false);
    // BEGIN_REQUEST is the first 16 bytes: the second request comes between
    // it and the first's parameters, its own parameters after.
    const std::string interleaved = list.substr(0, 16) + beginRecord(2) + fcgiRecord(kParams, 2, "\1\1ab") + list.substr(16);
    struct Expected {
        int id;
        int protocolStatus;
        std::string program;  // whose answer, when answered
        std::string query;
    };
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<Expected> answers;
        bool closes;
    };
    const Case cases[] = {
        {"a second request while the first is read", interleaved, {{2, 1, "", ""}, {1, 0, "ListPage", kListQuery}}, true},
        {"three requests on a kept connection at once",
         request("ListPage", kListQuery, 1, true) + request("FormPage", "BoardNum=1", 2, true) +
             request("ShowPage", "BoardNum=1&TextNum=1", 3, true),
         {{1, 0, "ListPage", kListQuery}, {2, 0, "FormPage", "BoardNum=1"}, {3, 0, "ShowPage", "BoardNum=1&TextNum=1"}},
         false},
        {"two requests at once, the first not keeping the connection",
         request("FormPage", "BoardNum=1", 1, false) + request("ListPage", kListQuery, 2, false),
         {{1, 0, "FormPage", "BoardNum=1"}},
         true},
    };
    for (const Case& c : cases) {
        const int fd = connectFcgi(responder.socketPath());
        ASSERT_GE(fd, 0);
        bool closed = false;
        const std::vector<FcgiResult> answers = exchangeRaw(fd, c.bytes, c.answers.size() + (c.closes ? 1 : 0), &closed);
        ::close(fd);
        ASSERT_GE(answers.size(), c.answers.size()) << c.what;
        for (std::size_t k = 0; k < c.answers.size(); ++k) {
            const Expected& expected = c.answers[k];
            EXPECT_TRUE(answers[k].ended) << c.what << ", answer " << k;
            EXPECT_EQ(answers[k].requestId, expected.id) << c.what << ", answer " << k;
            EXPECT_EQ(answers[k].protocolStatus, expected.protocolStatus) << c.what << ", answer " << k;
            if (!expected.program.empty()) {
                const CgiResult cgi = cgiOf(site, expected.program, expected.query);
                EXPECT_EQ(answers[k].output, cgi.output) << c.what << ", answer " << k;
                EXPECT_EQ(answers[k].status, cgi.status) << c.what << ", answer " << k;
            }
        }
        // Nothing more, and the connection is closed when it should be.
        EXPECT_EQ(answers.size(), c.answers.size() + 1) << c.what;
        EXPECT_FALSE(answers.back().ended) << c.what;
        EXPECT_EQ(closed, c.closes) << c.what;
        // The one worker went back to new connections.
        expectSameAnswer(responder.request(paramsOf("ListPage", kListQuery), ""), cgiOf(site, "ListPage", kListQuery));
    }
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

TEST(Responder, NoHandfulOfSlowClientsStopsTheSite) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 2, {}, false,
                               {"--max-workers", "32", "--header-timeout", "3", "--body-timeout", "6", "--idle-timeout", "3"});
    const std::string post = fcgiRequestBytes(paramsOf("SavePage", "BoardNum=1&TextNum=-1", kPost), kPost);
    const std::string list = fcgiRequestBytes(paramsOf("ListPage", kListQuery), "", 1, true);
    struct Kind {
        const char* what;
        std::string bytes;
        bool answered;       // a whole request answered first, on a kept connection
        const char* reason;  // why the responder drops it in the end
    };
    const Kind kinds[] = {
        {"connected, nothing sent", "", false, "header records not in time"},
        {"BEGIN_REQUEST only", post.substr(0, 16), false, "header records not in time"},
        {"half the parameters", post.substr(0, 40), false, "header records not in time"},
        {"the parameters and half the body", post.substr(0, post.size() - 30), false, "body not in time"},
        {"a kept connection after an answer", list, true, "no request on a kept connection in time"},
    };
    std::vector<int> clients;
    for (int round = 0; round < 4; ++round) {
        for (const Kind& kind : kinds) {
            const int fd = connectFcgi(responder.socketPath());
            ASSERT_GE(fd, 0);
            clients.push_back(fd);
            if (kind.answered) {
                EXPECT_TRUE(exchangeRaw(fd, kind.bytes, 1).front().ended) << kind.what;
            } else if (!kind.bytes.empty()) {
                ASSERT_EQ(::send(fd, kind.bytes.data(), kind.bytes.size(), MSG_NOSIGNAL),
                          static_cast<ssize_t>(kind.bytes.size()));
            }
        }
    }
    // Each client holds a worker, and the two of --workers stay free.
    ASSERT_TRUE(waitFor([&] { return responder.workers().size() >= clients.size() + 2; }, 20)) << responder.workers().size();
    const CgiResult listed = cgiOf(site, "ListPage", kListQuery);
    for (int visitor = 0; visitor < 10; ++visitor) {
        const auto start = std::chrono::steady_clock::now();
        const FcgiResult answer = responder.request(paramsOf("ListPage", kListQuery), "");
        const auto took = std::chrono::steady_clock::now() - start;
        expectSameAnswer(answer, listed);
        EXPECT_LT(took, std::chrono::seconds(1)) << "visitor " << visitor;
    }
    // Then each client is dropped at its deadline, with why, and the pool
    // shrinks back.
    ASSERT_TRUE(waitFor([&] { return countOf(responder.errors(), "connection dropped: ") >= clients.size(); }, 30))
        << responder.errors();
    const std::string errors = responder.errors();
    for (const char* reason : {"header records not in time", "body not in time", "no request on a kept connection in time"}) {
        std::size_t expected = 0;
        for (const Kind& kind : kinds) expected += kind.reason == std::string(reason) ? 4 : 0;
        EXPECT_EQ(countOf(errors, reason), expected) << reason;
    }
    EXPECT_FALSE(site.boardFileExists(1, "guestbook.dat"));
    for (int fd : clients) ::close(fd);
    EXPECT_TRUE(waitFor([&] { return responder.workers().size() == 2; }, 30)) << responder.workers().size();
    EXPECT_EQ(responder.stop(), 0);
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
}

TEST(Responder, AStopDropsConnectionsOnlyWaiting) {
    ScratchSite site;
    prepareSite(site);
    ResponderProcess responder(site.cgiBin(), 1, {}, false,
                               {"--max-workers", "4", "--header-timeout", "600", "--idle-timeout", "600"});
    // A connection kept open after its answer, and one with nothing sent.
    const int kept = connectFcgi(responder.socketPath());
    ASSERT_GE(kept, 0);
    expectSameAnswer(requestOnKeptConnection(kept, paramsOf("ListPage", kListQuery), ""), cgiOf(site, "ListPage", kListQuery));
    const int silent = connectFcgi(responder.socketPath());
    ASSERT_GE(silent, 0);
    ASSERT_TRUE(waitFor([&] { return responder.workers().size() == 3; }, 20)) << responder.workers().size();
    EXPECT_EQ(responder.stop(10), 0);
    EXPECT_EQ(countOf(responder.errors(), "connection dropped: stopping, and it waited for a request"), 2u) << responder.errors();
    EXPECT_FALSE(hasFaultReport(responder.errors())) << responder.errors();
    ::close(kept);
    ::close(silent);
}
