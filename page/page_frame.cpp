#include "page/page_frame.h"

#include <arpa/inet.h>
#include <cstdio>

#include "page/html_escape.h"
#include "page/response.h"

std::string Frame::shown(const std::string& path) const {
    if (!statusCodes) return path;
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PageBoard pageBoard(const SiteConfig& site, int number) {
    PageBoard board;
    board.settings = site.board(number);
    board.frame = Frame{site.baseDir, number, board.settings.email, board.settings.titleImage, site.statusCodes};
    board.frame.phonePages = site.phonePages;
    board.frame.feed = site.feed;
    board.frame.addressShown = site.addressShown;
    if (site.status != SiteConfig::Status::Read) {
        board.refusal = Refusal{Markup::raw("<font color=228b22 size=3>Can't open 'GuestBook.conf'!!!</font><br>"), 500};
    } else if (!site.faults.empty()) {
        // Which line, not what it says: the owner's gesipan check shows that.
        const std::string line = site.faults.front().substr(0, site.faults.front().find(':'));
        board.refusal = Refusal{Markup::raw("<font color=228b22 size=3>'GuestBook.conf', " + escapeHtml(line.data(), line.size()) +
                                            ", is not understood!!!</font><br>"),
                                500};
    } else if (board.settings.dirTooLong) {
        board.refusal =
            Refusal{Markup::raw("<font color=228b22 size=3>The board directory in 'GuestBook.conf' is too long!!!</font><br>"), 500};
    }
    return board;
}

void pageHead(PageOut& out, const Frame& frame, const char* version, const char* bodyColour, bool listing) {
    out.put("<html>\n");
    out.put("<head><title>게시판 버전 %s</title>", version);
    if (frame.phonePages) {
        out.put("<meta name=viewport content=\"width=device-width, initial-scale=1\">");
        out.put("<link rel=stylesheet href=%sImage/gesipan.css>", frame.baseDir);
    }
    if (listing && frame.feed) {
        out.put("<link rel=alternate type=application/atom+xml href=%scgi-bin/FeedPage.exe?BoardNum=%s>", frame.baseDir,
                frame.board);
    }
    out.put("</head>\n");
    out.put("<body bgcolor=%s>\n", bodyColour);
}

std::string shownAddress(const std::string& host, SiteConfig::AddressShown shown) {
    if (shown == SiteConfig::AddressShown::Whole) return host;
    if (shown == SiteConfig::AddressShown::Hidden || host.empty()) return std::string();
    unsigned char bytes[16];
    char masked[64];
    std::string tail = host;
    // An IPv4 address written inside IPv6 ("::ffff:203.0.113.7") is the IPv4 one.
    std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find('.', colon) != std::string::npos) tail = host.substr(colon + 1);
    if (inet_pton(AF_INET, tail.c_str(), bytes) == 1) {
        std::snprintf(masked, sizeof masked, "%u.%u.*.*", bytes[0], bytes[1]);
        return masked;
    }
    if (inet_pton(AF_INET6, host.c_str(), bytes) == 1) {
        std::snprintf(masked, sizeof masked, "%x:%x:*", bytes[0] << 8 | bytes[1], bytes[2] << 8 | bytes[3]);
        return masked;
    }
    // A name: its last two labels, which name the network and not the line.
    std::size_t last = host.rfind('.');
    std::size_t before = last == std::string::npos || last == 0 ? std::string::npos : host.rfind('.', last - 1);
    return before == std::string::npos ? std::string("*") : "*" + host.substr(before);
}

void titleBlock(PageOut& out, const Frame& frame, TitleLayout layout) {
    out.put("<center>\n");
    if (layout == TitleLayout::Listing) {
        out.put("<img src=%sImage/%s width=200 height=60 border=0>\n", frame.baseDir, frame.titleImage);
        out.put("<table border=0 width=480 cellspace=3>\n");
    } else {
        out.put("<img src=%sImage/%s height=60 width=200 border=0>\n", frame.baseDir, frame.titleImage);
        out.put("<table border=0 width=480 cellpading=0>\n");
    }
    out.put("<tr>\n");
    out.put("<td valign=buttom>\n");
    out.put("<img align=left border=0 src=%sImage/bookpen.gif>\n", frame.baseDir);
    out.put("<br>\n");
    out.put("<img width=420 src=%sImage/line_ani.gif>\n", frame.baseDir);
    out.put("</td>\n");
    out.put("</tr>\n");
    out.put("</table>\n");
    out.put("</center>\n");
    out.put("<center>\n");
}

void formButtons(PageOut& out) {
    out.put("</td></tr></table>\n");
    out.put("<br>\n");
    out.put("<center>\n");
    out.put("<input type=submit value=\"글 올리기\">\n");
    out.put("<input type=reset value=\"취소하기\">\n");
    out.put("</center>\n");
    out.put("</form>\n");
    out.put("<br>\n");
    out.put("</center>\n");
}

namespace {

// The four credit lines; the first opens the font element that the footer
// closes after its mail link.
void creditLines(PageOut& out, const char* version) {
    out.put("<font color=454545 size=-1>게시판 버전 %s: 여러 게시판을 두는 작은 웹 게시판입니다.<br>\n", version);
    out.put("누구나 자유롭게 쓰고, 고치고, 나눌 수 있는 자유 소프트웨어입니다.<br>\n");
    out.put("A small web bulletin board for several boards, version %s.<br>\n", version);
    out.put("Free software: anyone may use, copy and change it.<br>\n");
}

}  // namespace

void footer(PageOut& out, const Frame& frame, Footer kind, const char* version) {
    switch (kind) {
        case Footer::Notice: out.put("<img src=%sImage/line.gif width=500><br>\n", frame.baseDir); break;
        case Footer::Message: out.put("<img src=%sImage/line.gif width=500 border=0><br>\n", frame.baseDir); break;
        case Footer::Listing:
        case Footer::Form:
            out.put("<p>\n");
            out.put("<center>\n");
            out.put("<img src=%sImage/line.gif>\n", frame.baseDir);
            out.put("<br>\n");
            break;
    }
    creditLines(out, version);
    out.put("<a href=mailto:%s>%s</a></br>\n", frame.email, frame.email);
    out.put(kind == Footer::Listing ? "</font></center>\n" : "</font>\n</center>\n");
    out.put("</body>\n");
    out.put("</html>\n");
}

void listingLink(PageOut& out, const Frame& frame, const char* boardKey) {
    out.put("<center>\n");
    out.put("<font color=4a708b size=-1>\n");
    out.put("<a href=%scgi-bin/ListPage.exe?%s=%s&TextNum=0><img src=%sImage/posting.gif border=0></a>\n",
            frame.baseDir, boardKey, frame.board, frame.baseDir);
    out.put("<br>Click\n");
    out.put("</font>\n");
}

int noticePage(PageOut& out, const Frame& frame, const Markup& message, const char* boardKey, int status) {
    pageHead(out, frame, kVersion, "white");
    out.put("<br>\n");
    out.put("<center>\n");
    out.put("<br><br><br><br>\n");
    out.put("%s\n", message);
    out.put("<br><br><br><br>\n");
    listingLink(out, frame, boardKey);
    out.put("</center><br>\n");
    footer(out, frame, Footer::Notice);
    return status;
}

int errorPage(PageOut& out, const Frame& frame, const Refusal& refusal, int status) {
    if (frame.statusCodes) out.response().setStatus(refusal.http);
    return noticePage(out, frame, refusal.message, "BoadNum", status);
}

namespace refusal {

namespace {

// A message line of the error page around `text`, escaped.
Refusal line(const char* before, const std::string& text, const char* after, int http) {
    return Refusal{Markup::raw(std::string("<font color=228b22 size=3>") + before + escapeHtml(text.data(), text.size()) +
                               after + "</font><br>"),
                   http};
}

}  // namespace

Refusal pathTooLong() { return line("The board's file path is too long!!!", "", "", 500); }
Refusal noSuchMessage(int number) { return line("There is no message ", std::to_string(number), " on this board!!!", 404); }
Refusal cantOpen(const Frame& frame, const std::string& path) { return line("Can't open ", frame.shown(path), ".", 500); }
Refusal cantWrite(const Frame& frame, const std::string& path) { return line("Can't write ", frame.shown(path), ".", 500); }
Refusal damagedIndex(const Frame& frame, const std::string& path) {
    return line("The index file ", frame.shown(path), " is damaged!!!", 500);
}
Refusal boardLocked() { return line("The board is locked and cannot be changed now!!!", "", "", 503); }

}  // namespace refusal

void messageTables(PageOut& out, const Frame& frame, const MessageShown& m) {
    const char* number = m.smallNumbers ? "<td><font size=-1>%4s</font></td>" : "<td>%4s</td>";
    out.put("<center>\n");
    out.put("<table border=0><caption><b><font size=-1>%s</font></b></caption>\n", visitorText(m.subject.c_str()));
    out.put("<tr><th>  </th></tr>\n");
    out.put("<tr><th>  </th></tr>\n");
    out.put("<tr><th><font size=-1> 글번호 </font></th>");
    out.put(number, m.textNum);
    out.put("<th><font size=-1> 읽은횟수 </font></th>");
    out.put(number, m.readCount);
    out.put("</tr>\n");
    out.put("<tr><th><font size=-1>글쓴이</font></th><td><font size=-1>%s</font></td>"
            "<th><font size=-1>글쓴날짜</font></th><td><font size=-1>%s</font></td></tr>\n",
            visitorText(m.name.c_str()), m.dateTime);
    out.put("<tr><th><font size=-1>E-mail</font></th><td><a href=mailto:%s><font size=-1>%s</font></a></td>",
            hrefValue(m.email.c_str()), linkText(m.email.c_str()));
    if (frame.addressShown == SiteConfig::AddressShown::Whole) {
        out.put("<th><font size=-1>URL</font></th><td><a href=http://%s><font size=-1>%s</font></a></td></tr>\n",
                hrefValue(m.host.c_str()), linkText(m.host.c_str()));
    } else {
        // Only the page changes: the board file keeps the whole address.
        out.put("<th><font size=-1>URL</font></th><td><font size=-1>%s</font></td></tr>\n",
                shownAddress(m.host, frame.addressShown));
    }
    out.put("<tr><th><font size=-1>Homepage</font></th><td><a href=%s><font size=-1>%s</font></a></td>\n",
            homepageHref(m.homepage.c_str()), linkText(m.homepage.c_str()));
    out.put("<th><font size=-1> 줄수 </font></th><td><font size=-1>%s</font></td></th></tr>\n", m.lineCount);
    out.put("</table>\n");
    out.put("<img width=420 src=%sImage/blue_line.gif>\n", frame.baseDir);
    out.put("<br><br>\n");
    out.put("<table border=0>\n");
    out.put("<tr><td><font size=-1>\n");
    out.markup(visitorText(m.body->data(), m.body->size()));
    out.put("</font></table>\n");
}
