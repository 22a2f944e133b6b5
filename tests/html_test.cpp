// The visitor-text filter and the href encoders.
#include <gtest/gtest.h>

#include <string>

#include "page/html_escape.h"
#include "page/response.h"

namespace {

std::string shown(const std::string& text) { return visitorText(text.data(), text.size()).html(); }

TEST(VisitorText, PlainTextAndAllowedMarkupKeepTheirBytes) {
    const char* kept[] = {
        "hello world", "a < b and c > d", "<3 <= 5", "x <", "<b>bold</b>", "<B>BOLD</B>",
        "<font color=red size=\"+1\" face='Gulim'>big</font>", "line<br>line<br/>end<br />",
        "<a href=\"http://example.org/?a=1&amp;b=2\" target=_blank>link</a>",
        "<a href=/relative/page.html>r</a>", "<a href=\"mailto:me@example.org\">m</a>",
        "<img src=\"https://example.org/p.gif\" width=10 alt=\"x > y\">", "<p align=center>c</p>",
        "<h1>t</h1><ul><li>one</ul><hr noshade>", "<span title=\"it's\">q</span>",
        // Ends that browsers supply themselves, at the same place as here.
        "<ul><li>one<li>two</ul>", "<p>a<p>b</p>", "<ol><li><p>x</ol>", "<div><p>x</div>", "a</br>b",
        // One unquoted value to a browser, "=" and "?" included.
        "<a href=http://example.com/p?q=1&r=2>link</a>", "<img src=x/onerror=alert(1)>", "<font face=a=b>f</font>",
    };
    for (const char* text : kept) EXPECT_EQ(shown(text), text) << text;
}

TEST(VisitorText, KoreanBytesPassUnchanged) {
    const std::string text = "안녕 <b>게시판</b>";
    // EUC-KR: 안 = BE C8, 녕 = B3 E7.
    ASSERT_EQ(text.substr(0, 4), std::string("\xBE\xC8\xB3\xE7"));
    EXPECT_EQ(shown(text), text);
    // A lead byte right before "<" does not hide the tag.
    EXPECT_EQ(shown("\xB3<script>"), "\xB3&lt;script>");
}

TEST(VisitorText, ForbiddenTagsCommentsAndDeclarationsAreEscaped) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<script>alert(1)</script>", "&lt;script>alert(1)&lt;/script>"},
        {"<SCRIPT SRC=x></SCRIPT >", "&lt;SCRIPT SRC=x>&lt;/SCRIPT >"},
        {"<svg onload=alert(1)>", "&lt;svg onload=alert(1)>"},
        {"<math><mi>x</mi></math>", "&lt;math>&lt;mi>x&lt;/mi>&lt;/math>"},
        {"<iframe src=x>", "&lt;iframe src=x>"},
        {"<!-- hide -->", "&lt;!-- hide -->"},
        {"<!DOCTYPE html>", "&lt;!DOCTYPE html>"},
        {"<?php x ?>", "&lt;?php x ?>"},
        {"<style>b{}</style>", "&lt;style>b{}&lt;/style>"},
        {"<bold>", "&lt;bold>"},
        {"<b", "&lt;b"},
        {"<b title=\"unclosed>x", "&lt;b title=\"unclosed>x"},
        {"</b", "&lt;/b"},
        {"</b x>", "&lt;/b x>"},
        {"<b\x01>", "&lt;b\x01>"},
    };
    for (const Case& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(VisitorText, AllowedTagsWithBadAttributesAreEscaped) {
    const char* refused[] = {
        "<img src=x onerror=alert(1)>",
        "<b onclick=\"x\">",
        "<B OnMouseOver=x>",
        "<p style=\"background:url(x)\">",
        "<img src=\"x\"/onerror=alert(1)>",
        "<b title=\"a\"onclick=x>",
        "<b title=a\"b>",
        "<b title=a'b>",
        "<b title=a`b>",
        "<b id=x>",
        "<a href=\"javascript:alert(1)\">",
        "<a href=JaVaScRiPt:alert(1)>",
        "<a href=\"java\tscript:alert(1)\">",
        "<a href=\" \x01javascript:alert(1)\">",
        "<a href=\"&#106;avascript:alert(1)\">",
        "<a href=\"&#x6A;avascript&#58;alert(1)\">",
        "<a href=\"javascript&colon;alert(1)\">",
        "<a href=\"java&NewLine;script:x\">",
        "<a href=\"vbscript:x\">",
        "<img src=\"data:image/svg+xml,x\">",
        "<a href='javascript:x'>",
    };
    for (const char* text : refused) {
        const std::string out = shown(text);
        EXPECT_EQ(out.substr(0, 4), "&lt;") << text;
        EXPECT_EQ(out.substr(4), std::string(text).substr(1)) << text;
    }
    // "<" in an unquoted value: the tag is text and the "<b>" after it a tag of its own.
    EXPECT_EQ(shown("<b title=a<b>"), "&lt;b title=a<b></b>");
    // A quoted ">" neither ends the tag nor hides a handler after it.
    EXPECT_EQ(shown("<b title=\">\" onclick=x>"), "&lt;b title=\">\" onclick=x>");
}

TEST(VisitorText, WhatTheTextLeavesOpenIsClosedAtItsEnd) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<h1>big", "<h1>big</h1>"},
        {"<font size=7>x", "<font size=7>x</font>"},
        {"<pre>x", "<pre>x</pre>"},
        {"<b><i>x", "<b><i>x</i></b>"},
        {"<a href=http://example.com/>x", "<a href=http://example.com/>x</a>"},
        {"<center><div>x", "<center><div>x</div></center>"},
        {"<ul><li>x", "<ul><li>x</ul>"},
        {"<p>x", "<p>x</p>"},
        {"<b><p>x", "<b><p>x</p></b>"},
        {"<li><center>x<li>y", "<li><center>x<li>y</li></center></li>"},
        {"<b>x<br><hr><img src=/i.gif>", "<b>x<br><hr><img src=/i.gif></b>"},
    };
    for (const Case& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(VisitorText, EndTagsThatCloseNothingOfTheTextAreText) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"</center>x", "&lt;/center>x"},
        {"</font></a></td></table>", "&lt;/font>&lt;/a>&lt;/td>&lt;/table>"},
        {"<b>x</b></b>", "<b>x</b>&lt;/b>"},
        // Any heading's end tag would end the open h1.
        {"<h1>x</h2>", "<h1>x&lt;/h2></h1>"},
        {"</hr></img></p></li>", "&lt;/hr>&lt;/img>&lt;/p>&lt;/li>"},
    };
    for (const Case& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(VisitorText, MisnestedMarkupIsClosedAsTheBrowserWouldClose) {
    // What a browser would end on its own, or carry on into the page
    // (formatting it rebuilds after a block ends), is ended in so many words.
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"<b><i>x</b>y</i>", "<b><i>x</i></b>y&lt;/i>"},
        {"<div><b>x</div>y", "<div><b>x</b></div>y"},
        {"<p><b>x<div>y</div>", "<p><b>x</b><div>y</div>"},
        {"<span><p>x</span>", "<span><p>x</p></span>"},
        {"<h1>a<h2>b</h2>", "<h1>a</h1><h2>b</h2>"},
        {"<a href=x>1<a href=y>2</a>", "<a href=x>1</a><a href=y>2</a>"},
        {"<li>a<b>b<li>c", "<li>a<b>b</b><li>c</li>"},
        {"<ul><li>a<ol><li>b</ul>c", "<ul><li>a<ol><li>b</li></ol></ul>c"},
        {"<B><I>x</B>", "<B><I>x</i></B>"},
    };
    for (const Case& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(VisitorText, DeepNestingStaysBalanced) {
    std::string in;
    std::string expected;
    for (int k = 0; k < 20000; ++k) in += "<b>";
    for (int k = 0; k < 20000; ++k) in += "<li></i>";
    expected = in;
    for (std::size_t at = 0; (at = expected.find("</i>", at)) != std::string::npos;) expected.replace(at, 4, "&lt;/i>");
    expected += "</li>";
    for (int k = 0; k < 20000; ++k) expected += "</b>";
    EXPECT_EQ(shown(in), expected);
}

TEST(LinkText, LinksOfTheTextAreText) {
    EXPECT_EQ(linkText("</a>stray close").html(), "&lt;/a>stray close");
    EXPECT_EQ(linkText("<a href=http://example.com/>plain link</a>").html(),
              "&lt;a href=http://example.com/>plain link&lt;/a>");
    EXPECT_EQ(linkText("<A NAME=x>").html(), "&lt;A NAME=x>");
    // Everything else as in any other field.
    EXPECT_EQ(linkText("<b>x</b> <img src=/i.gif> plain").html(), "<b>x</b> <img src=/i.gif> plain");
    EXPECT_EQ(linkText("<font color=red>x").html(), "<font color=red>x</font>");
    EXPECT_EQ(linkText("<script>").html(), "&lt;script>");
}

TEST(VisitorText, NulBytesInsideTheTextAreKept) {
    const std::string text("a\0<b>b</b>\0", 11);
    EXPECT_EQ(shown(text), text);
    const std::string tag("<b\0 onclick=x>", 14);
    EXPECT_EQ(shown(tag), "&lt;" + tag.substr(1));
}

TEST(HrefValue, BytesThatEndAnUnquotedAttributeArePercentEncoded) {
    EXPECT_EQ(hrefValue("me@example.org").html(), "me@example.org");
    EXPECT_EQ(hrefValue("a b\tc\"d'e<f>g`i").html(), "a%20b%09c%22d%27e%3Cf%3Eg%60i");
    EXPECT_EQ(hrefValue("x onmouseover=alert(1)").html(), "x%20onmouseover=alert(1)");
    // The "=" of a query cannot end the value and must stay for the address to work.
    EXPECT_EQ(hrefValue("me@x.org?subject=hi").html(), "me@x.org?subject=hi");
    EXPECT_EQ(hrefValue("a%20b").html(), "a%20b");
    EXPECT_EQ(hrefValue("\x7f\n").html(), "%7F%0A");
    EXPECT_EQ(hrefValue("\xC7\xD1").html(), "\xC7\xD1");
}

TEST(HomepageHref, ScriptSchemesPrintNothing) {
    const char* refused[] = {"javascript:alert(1)", "JaVaScRiPt:alert(1)", "java\tscript:x", " javascript:x",
                             "&#106;avascript:x",   "javascript&#x3A;x",   "vbscript:x",    "data:text/html,x",
                             "file:///etc/passwd",  "java&nbsp;script:x",
                             // found by the fuzzer: a control byte inside "http"
                             "htt\x11p:,d\xff\xff\xff\xff" "aem"};
    for (const char* text : refused) EXPECT_EQ(homepageHref(text).html(), "") << text;
}

TEST(HomepageHref, AllowedAndSchemelessAddressesKeepTheirBytes) {
    EXPECT_EQ(homepageHref("http://example.org/~me/").html(), "http://example.org/~me/");
    EXPECT_EQ(homepageHref("HTTPS://example.org").html(), "HTTPS://example.org");
    EXPECT_EQ(homepageHref("ftp://f.example.org").html(), "ftp://f.example.org");
    EXPECT_EQ(homepageHref("mailto:a@b").html(), "mailto:a@b");
    EXPECT_EQ(homepageHref("www.example.org").html(), "www.example.org");
    EXPECT_EQ(homepageHref("/path:with:colons").html(), "/path:with:colons");
    EXPECT_EQ(homepageHref("http://x y>").html(), "http://x%20y%3E");
}

TEST(BrowserReference, OnlyReferencesABrowserWritesForCharactersOutsideEucKr) {
    EXPECT_EQ(browserReference("&#128512;"), 9u);
    EXPECT_EQ(browserReference("&#233;x"), 6u);        // é
    EXPECT_EQ(browserReference("&#1114111;"), 10u);
    EXPECT_EQ(browserReference("&#54620;"), 0u);       // 한: the browser sends its bytes
    EXPECT_EQ(browserReference("&#60;"), 0u);
    EXPECT_EQ(browserReference("&#128;"), 0u);         // read as the euro sign
    EXPECT_EQ(browserReference("&#55357;"), 0u);       // a surrogate
    EXPECT_EQ(browserReference("&#1114112;"), 0u);
    EXPECT_EQ(browserReference("&#99999999999;"), 0u);
    EXPECT_EQ(browserReference("&#0128512;"), 0u);
    EXPECT_EQ(browserReference("&#x1F600;"), 0u);
    EXPECT_EQ(browserReference("&#128512"), 0u);
    EXPECT_EQ(browserReference("&#;"), 0u);
    EXPECT_EQ(browserReference("&amp;"), 0u);
}

TEST(AttributeValue, BrowserReferencesShowTheCharacterAndEveryOtherAmpersandIsEscaped) {
    EXPECT_EQ(attributeValue("a&#128512;b").html(), "a&#128512;b");
    EXPECT_EQ(attributeValue("&#60;&amp;&#54620;\"&#128512").html(), "&amp;#60;&amp;amp;&amp;#54620;&quot;&amp;#128512");
    EXPECT_EQ(textAreaText("&#128512;<br>\n&#60; &#233;").html(), "&#128512;\n&amp;#60; &#233;");
}

}  // namespace

// The pages' writer: text escaped unless it is Markup, numbers unpadded.
TEST(PageOut, EscapesTextUnlessToldAndWritesNumbers) {
    struct Case {
        std::string written;
        std::string expected;
    };
    Response response;
    PageOut out(response);
    const std::string quoted = "a\"b<c>&d";
    const Case cases[] = {
        {"<a href=%s>", "<a href=a&quot;b&lt;c&gt;&amp;d>"},
        {"%s", "a\"b<c>&d"},
        {"%s|%s|%s", "0|-1|2147483647"},
        {"<td>%4s</td><td>%4s</td>", "<td>   7</td><td>12345</td>"},
        {"100%% %s", "100% x"},
        {"%s and %s", " and "},
    };
    std::size_t at = 0;
    auto written = [&]() {
        std::string text = response.bytes().substr(at);
        at = response.bytes().size();
        return text;
    };
    out.put(cases[0].written.c_str(), quoted);
    EXPECT_EQ(written(), cases[0].expected);
    out.put(cases[1].written.c_str(), Markup::raw(quoted));
    EXPECT_EQ(written(), cases[1].expected);
    out.put(cases[2].written.c_str(), 0, -1, 2147483647);
    EXPECT_EQ(written(), cases[2].expected);
    out.put(cases[3].written.c_str(), 7, "12345");
    EXPECT_EQ(written(), cases[3].expected);
    out.put(cases[4].written.c_str(), "x");
    EXPECT_EQ(written(), cases[4].expected);
    // An argument missing prints nothing; a null text is the empty text.
    out.put(cases[5].written.c_str(), static_cast<const char*>(nullptr));
    EXPECT_EQ(written(), cases[5].expected);
    // The escapers' results go out as they are.
    out.put("<a href=mailto:%s>%s</a>", hrefValue("a b\"c"), linkText("<a href=x>y</a>"));
    EXPECT_EQ(written(), "<a href=mailto:a%20b%22c>" + linkText("<a href=x>y</a>").html() + "</a>");
}
