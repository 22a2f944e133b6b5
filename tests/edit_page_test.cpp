// EditPage run as a CGI process: the filled form, its escapes and the round trip.
#include <gtest/gtest.h>

#include <string>

#include "board_files.h"
#include "cgi_runner.h"
#include "page/html_escape.h"
#include "expected_pages.h"
#include "scratch_site.h"

namespace {

std::string editForm(int textNum, const std::string& name, const std::string& email, const std::string& homepage,
                     const std::string& subject, const std::string& text, const std::string& password) {
    return "<html>\n<head><title>게시판 버전 2.11</title></head>\n<body bgcolor=white>\n<center>\n"
           "<img src=/bbs/Image/title1.gif height=60 width=200 border=0>\n"
           "<table border=0 width=480 cellpading=0>\n<tr>\n<td valign=buttom>\n"
           "<img align=left border=0 src=/bbs/Image/bookpen.gif>\n<br>\n"
           "<img width=420 src=/bbs/Image/line_ani.gif>\n</td>\n</tr>\n</table>\n</center>\n<center>\n"
           "<form method=post action=/bbs/cgi-bin/SavePage.exe?BoardNum=1&TextNum=" + std::to_string(textNum) + ">\n"
           "<table>\n"
           "<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18 value=\"" + name + "\"></td></tr>\n"
           "<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40 value=\"" + email + "\"></td></tr>\n"
           "<tr><td>Homepage</td><td><input type=text name=homepage size=60 value=\"" + homepage + "\"\n"
           "maxlength=60></td><tr>\n"
           "<tr><td>Subject</td><td><input type=text name=subject size=60 value=\"" + subject + "\" maxlength=60></td></tr>\n"
           "<tr><td>Comment</td><td><textarea type=text name=body cols=60 rows=10>\n" + text +
           "</textarea>\n"
           "<input type=hidden name=password value=\"" + password + "\">\n"
           "</td></tr></table>\n<br>\n<center>\n"
           "<input type=submit value=\"글 올리기\">\n<input type=reset value=\"취소하기\">\n"
           "</center>\n</form>\n<br>\n</center>\n<p>\n<center>\n<img src=/bbs/Image/line.gif>\n<br>\n" +
           creditBlock("2.11") +
           "<a href=mailto:admin@example.org>admin@example.org</a></br>\n</font>\n</center>\n</body>\n</html>\n";
}

class EditPageRun : public ::testing::Test {
protected:
    void SetUp() override {
        site.writeStandardConfig();
        std::string index = headerBytes(2, 2, 1);
        for (int n = 1; n <= 2; ++n) {
            TestRecord r;
            r.textNum = n;
            r.name = "Kim \"K\"";
            r.email = "k@x.org";
            r.homepage = "http://a.b/?x=1&y=2";
            r.subject = "Hello";
            index += recordBytes(r);
        }
        site.writeBoardFile(1, "guestbook.dat", index);
    }
    CgiResult edit(int textNum, const std::string& form = "password=secret") {
        CgiRequest request;
        request.query = "BoardNum=1&TextNum=" + std::to_string(textNum);
        request.body = form;
        return runCgi("EditPage", site.cgiBin(), request);
    }
    ScratchSite site;
};

}  // namespace

TEST(TextArea, LineBreaksDroppedAndClosingTagsEscaped) {
    EXPECT_EQ(textAreaText("a<br>\nb<br>\n").html(), "a\nb\n");
    EXPECT_EQ(textAreaText("<<br>").html(), "<");
    EXPECT_EQ(textAreaText("x<").html(), "x<");
    EXPECT_EQ(textAreaText("x<b").html(), "x<b");
    EXPECT_EQ(textAreaText("").html(), "");
    EXPECT_EQ(textAreaText("<b>bold</b><BR><br/>").html(), "<b>bold</b><BR><br/>");
    EXPECT_EQ(textAreaText("a&amp;b</TextArea>").html(), "a&amp;amp;b&lt;/TextArea>");
    // A closing tag that only forms once the break inside it is dropped.
    EXPECT_EQ(textAreaText("</text<br>area>").html(), "&lt;/textarea>");
}

TEST_F(EditPageRun, PrintsTheFilledFormWithThePasswordCarriedBack) {
    site.writeBoardFile(1, "guestbook2.html", "line 1<br>\n</textarea><script>x</script>");
    CgiResult result = edit(2, "p=se%22c&x=y");
    // "se\"c" is not the password.
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(pageOf(result).find("Access denied."), std::string::npos);
    result = edit(2);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pageOf(result), editForm(2, "Kim &quot;K&quot;", "k@x.org", "http://a.b/?x=1&amp;y=2", "Hello",
                                       "line 1\n&lt;/textarea><script>x</script>", "secret"));
}

TEST_F(EditPageRun, DenialAndMissingFiles) {
    CgiResult denied = edit(1, "password=SECRET");
    EXPECT_EQ(denied.status, 0);
    EXPECT_EQ(pageOf(denied), errorPage("/bbs/", 1,
                                        "<font color=228b22 size=2>Access denied.</font><br>\n\t\t\t      "
                                        "<font color=454545 size=-1>손님은 수정하기 권한이 없습니다.</font><br>",
                                        "admin@example.org"));
    CgiResult noBody = edit(1);
    EXPECT_EQ(noBody.status, 1);
    EXPECT_EQ(pageOf(noBody), "Can't open " + site.boardDir(1) + "guestbook1.html!!!\n");
    for (int n : {0, 3, -1}) {
        CgiResult none = edit(n);
        EXPECT_EQ(none.status, 1);
        EXPECT_EQ(pageOf(none), "There's no message " + std::to_string(n) + " in guestbook.dat.\n");
    }
}

TEST_F(EditPageRun, RoundTripThroughSavePageKeepsTheMessage) {
    // Post a message, open its edit form, post the form back unchanged.
    site.boardDir(2);
    CgiRequest post;
    post.query = "BoardNum=2&TextNum=-1";
    post.body = "name=%22Q%22+%26+A&email=q%40x&homepage=http%3A%2F%2Fq%2F%3Fa%3D1%26b&subject=%3Cb%3EHi%3C%2Fb%3E"
                "&body=one%0D%0A%3C%2Ftextarea%3E+%26amp%3B%0D%0Atwo";
    post.env = {{"REMOTE_HOST", "h"}};
    ASSERT_EQ(runCgi("SavePage", site.cgiBin(), post).status, 0);
    std::string before = site.readBoardFile(2, "guestbook.dat");
    std::string bodyBefore = site.readBoardFile(2, "guestbook1.html");

    CgiRequest open;
    open.query = "BoardNum=2&TextNum=1";
    open.body = "password=secret";
    std::string form = pageOf(runCgi("EditPage", site.cgiBin(), open));
    // What a browser posts back: each value decoded from the form, CR LF line breaks.
    auto valueOf = [&](const std::string& name) {
        std::size_t at = form.find("name=" + name);
        std::size_t start = form.find("value=\"", at) + 7;
        return form.substr(start, form.find('"', start) - start);
    };
    auto unescape = [](const std::string& text) {  // one pass, as a browser decodes
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            bool matched = false;
            for (auto [from, to] : {std::pair<std::string, char>{"&quot;", '"'}, {"&lt;", '<'}, {"&amp;", '&'}}) {
                if (text.compare(i, from.size(), from) == 0) {
                    out += to;
                    i += from.size() - 1;
                    matched = true;
                    break;
                }
            }
            if (!matched) out += text[i];
        }
        return out;
    };
    std::size_t areaStart = form.find("rows=10>\n") + 9;
    std::string area = unescape(form.substr(areaStart, form.find("</textarea>\n", areaStart) - areaStart));
    std::string crlf;
    for (char c : area) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    auto encode = [](const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(hex);
        }
        return out;
    };
    CgiRequest back;
    back.query = "BoardNum=2&TextNum=1";
    back.body = "name=" + encode(unescape(valueOf("name"))) + "&email=" + encode(unescape(valueOf("email"))) +
                "&homepage=" + encode(unescape(valueOf("homepage"))) + "&subject=" +
                encode(unescape(valueOf("subject"))) + "&body=" + encode(crlf) + "&password=" +
                encode(unescape(valueOf("password")));
    back.env = {{"REMOTE_HOST", "h"}};
    ASSERT_EQ(runCgi("SavePage", site.cgiBin(), back).status, 0);
    std::string after = site.readBoardFile(2, "guestbook.dat");
    // Date and time may differ by the minute; every other byte is the same.
    after.replace(125 + 25, 40, before.substr(125 + 25, 40));
    EXPECT_EQ(after, before);
    EXPECT_EQ(site.readBoardFile(2, "guestbook1.html"), bodyBefore);
}

TEST_F(EditPageRun, BrowserReferencesShowTheirCharacterAndOtherAmpersandsStayEscaped) {
    // What a browser posts for 😀 and é on an EUC-KR page, beside a visitor's
    // own "&#60;" and "&#54620;" (한, which the browser would send as bytes).
    TestRecord r;
    r.textNum = 1;
    r.name = "&#128512;&#60;";
    r.email = "&#233;@x.org";
    r.homepage = "http://x/&#128512;";
    r.subject = "&#54620; &#128512; &#0128512;";
    site.writeBoardFile(1, "guestbook.dat", headerBytes(1, 1, 1) + recordBytes(r));
    site.writeBoardFile(1, "guestbook1.html", "&#128512;<br>\n&#60;&amp;&#x1F600;");
    CgiResult result = edit(1);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pageOf(result), editForm(1, "&#128512;&amp;#60;", "&#233;@x.org", "http://x/&#128512;",
                                       "&amp;#54620; &#128512; &amp;#0128512;",
                                       "&#128512;\n&amp;#60;&amp;amp;&amp;#x1F600;", "secret"));
}
