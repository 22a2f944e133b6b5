// The visitor-text filter and the href encoders.
#include <gtest/gtest.h>

#include <string>

#include "html.h"

namespace {

std::string shown(const std::string& text) { return visitorText(text.data(), text.size()); }

TEST(VisitorText, PlainTextAndAllowedMarkupKeepTheirBytes) {
    const char* kept[] = {
        "hello world", "a < b and c > d", "<3 <= 5", "x <", "<b>bold</b>", "<B>BOLD</B>",
        "<font color=red size=\"+1\" face='Gulim'>big</font>", "line<br>line<br/>end<br />",
        "<a href=\"http://example.org/?a=1&amp;b=2\" target=_blank>link</a>",
        "<a href=/relative/page.html>r</a>", "<a href=\"mailto:me@example.org\">m</a>",
        "<img src=\"https://example.org/p.gif\" width=10 alt=\"x > y\">", "<p align=center>c</p>",
        "<h1>t</h1><ul><li>one</ul><hr noshade>", "<span title=\"it's\">q</span>",
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
    // A quoted ">" neither ends the tag nor hides a handler after it.
    EXPECT_EQ(shown("<b title=\">\" onclick=x>"), "&lt;b title=\">\" onclick=x>");
}

TEST(VisitorText, NulBytesInsideTheTextAreKept) {
    const std::string text("a\0<b>b</b>\0", 11);
    EXPECT_EQ(shown(text), text);
    const std::string tag("<b\0 onclick=x>", 14);
    EXPECT_EQ(shown(tag), "&lt;" + tag.substr(1));
}

TEST(HrefValue, BytesThatEndAnUnquotedAttributeArePercentEncoded) {
    EXPECT_EQ(hrefValue("me@example.org"), "me@example.org");
    EXPECT_EQ(hrefValue("a b\tc\"d'e<f>g`i"), "a%20b%09c%22d%27e%3Cf%3Eg%60i");
    EXPECT_EQ(hrefValue("x onmouseover=alert(1)"), "x%20onmouseover=alert(1)");
    // The "=" of a query cannot end the value and must stay for the address to work.
    EXPECT_EQ(hrefValue("me@x.org?subject=hi"), "me@x.org?subject=hi");
    EXPECT_EQ(hrefValue("a%20b"), "a%20b");
    EXPECT_EQ(hrefValue("\x7f\n"), "%7F%0A");
    EXPECT_EQ(hrefValue("\xC7\xD1"), "\xC7\xD1");
}

TEST(HomepageHref, ScriptSchemesPrintNothing) {
    const char* refused[] = {"javascript:alert(1)", "JaVaScRiPt:alert(1)", "java\tscript:x", " javascript:x",
                             "&#106;avascript:x",   "javascript&#x3A;x",   "vbscript:x",    "data:text/html,x",
                             "file:///etc/passwd",  "java&nbsp;script:x",
                             // found by the fuzzer: a control byte inside "http"
                             "htt\x11p:,d\xff\xff\xff\xff" "aem"};
    for (const char* text : refused) EXPECT_EQ(homepageHref(text), "") << text;
}

TEST(HomepageHref, AllowedAndSchemelessAddressesKeepTheirBytes) {
    EXPECT_EQ(homepageHref("http://example.org/~me/"), "http://example.org/~me/");
    EXPECT_EQ(homepageHref("HTTPS://example.org"), "HTTPS://example.org");
    EXPECT_EQ(homepageHref("ftp://f.example.org"), "ftp://f.example.org");
    EXPECT_EQ(homepageHref("mailto:a@b"), "mailto:a@b");
    EXPECT_EQ(homepageHref("www.example.org"), "www.example.org");
    EXPECT_EQ(homepageHref("/path:with:colons"), "/path:with:colons");
    EXPECT_EQ(homepageHref("http://x y>"), "http://x%20y%3E");
}

}  // namespace
