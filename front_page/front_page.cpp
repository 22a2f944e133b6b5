// FrontPage: read at every request, so a board added to GuestBook.conf
// and every new message show at once, with no file to keep current.
#include "front_page.h"

#include <string>

#include "page/html_out.h"
#include "page/page_frame.h"
#include "store/board_store.h"
#include "store/index_format.h"
#include "text/board_utf8.h"

namespace {

constexpr char kForbidden[] = "Status: 403 Forbidden\nContent-type: text/plain\n\nForbidden.\n";

// The page's own words (EUC-KR, as the compiler writes them) in UTF-8.
std::string words(const char* text) { return utf8OfBoardText(text); }

std::string html(const std::string& utf8) { return escapeHtml(utf8.data(), utf8.size()); }

int messageCount(const BoardSettings& board) {
    BoardStore store(board.dir.c_str());
    store.lockForReading();
    char header[kHeaderSize];
    return store.ReadHeader(header) == StoreResult::Done ? store.messageCount() : 0;
}

}  // namespace

int frontPage(const PageInput&, const SiteConfig& site, Response& response) {
    if (site.status != SiteConfig::Status::Read || site.titles.empty()) {
        response.append(kForbidden, sizeof kForbidden - 1);
        return 1;
    }
    const std::string base = html(site.baseDir);
    std::string page = "Content-type: text/html; charset=utf-8\n\n";
    page += "<!DOCTYPE html>\n<html lang=ko>\n<head><meta charset=utf-8>";
    page += "<meta name=viewport content=\"width=device-width, initial-scale=1\">";
    page += "<title>" + words("게시판") + "</title>";
    page += "<link rel=stylesheet href=" + base + "Image/gesipan.css></head>\n";
    page += "<body bgcolor=white>\n<center>\n";
    page += "<img src=" + base + "Image/bookpen.gif alt=\"\"><br>\n";
    page += "<table border=0 cellpadding=4>\n";
    for (const auto& [number, board] : site.boards()) {
        if (board.dirTooLong || board.dir.empty()) continue;
        auto title = site.titles.find(number);
        std::string text = title == site.titles.end() ? words("게시판 ") + std::to_string(number)
                           : isUtf8(title->second)    ? title->second
                                                      : utf8OfBoardText(title->second);
        const std::string board_ = std::to_string(number);
        page += "<tr><td><a href=" + base + "cgi-bin/ListPage.exe?BoardNum=" + board_ + "&amp;TextNum=0>" + html(text) +
                "</a></td>";
        page += "<td>" + words("글 ") + std::to_string(messageCount(board)) + words("개") + "</td>";
        if (site.feed) {
            page += "<td><a href=" + base + "cgi-bin/FeedPage.exe?BoardNum=" + board_ + " type=application/atom+xml>" +
                    words("피드") + "</a></td>";
        }
        page += "</tr>\n";
    }
    page += "</table>\n</center>\n</body>\n</html>\n";
    response.append(page.data(), page.size());
    return 0;
}
