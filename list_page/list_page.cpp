#include "list_page.h"

#include <cstdio>
#include <string>

#include "store/board_store.h"
#include "page/html_escape.h"
#include "page/response.h"
#include "store/index_format.h"

int setIndexPathOrRefuse(CgiPage& page) {
    // A cut path would name another file; refuse instead.
    if (page.setBoardPath(kIndexName) > 0) return 1;
    page.showErrorPage("<font color=228b22 size=3>The board's file path is too long!!!</font><br>");
    return page.endPage(1);
}

int readTextCount(CgiPage& page, BoardStore& store) {
    if (setIndexPathOrRefuse(page) < 0) return -1;
    StoreResult head = store.ReadHeader(page.header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        printNoDataPage(page);
        return -1;
    }
    // A header that cannot be read whole holds no count.
    page.messageCount = head == StoreResult::Done ? store.messageCount() : 0;
    return 1;
}

void printBoardTitle(const CgiPage& page) {
    printPageHead(kVersion, "ffffff");
    emit("<center>%c", NL);
    emit("<img src=%sImage/%s width=200 height=60 border=0>%c", page.baseDir, page.titleImage, NL);
    emit("<table border=0 width=480 cellspace=3>%c", NL);
    emit("<tr>%c", NL);
    emit("<td valign=buttom>%c", NL);
    emit("<img align=left border=0 src=%sImage/bookpen.gif>%c", page.baseDir, NL);
    emit("<br>%c", NL);
    emit("<img width=420 src=%sImage/line_ani.gif>%c", page.baseDir, NL);
    emit("</td>%c", NL);
    emit("</tr>%c", NL);
    emit("</table>%c", NL);
    emit("</center>%c", NL);
    emit("<center>%c", NL);
}

void printListHead(const CgiPage& page) {
    printBoardTitle(page);
    emit("<table border=0 align=center><tr><th><font size=-1>글번호</font></th><th><font size=-1>글쓴이</font></th><th><font size=-1>글쓴날짜</font></th><th><font size=-1>읽은횟수</font></th><th><font size=-1>줄수</font></th><th><font size=-1>글제목</font></th></tr>%c", NL);
}

void setPageRange(CgiPage& page) {
    int n = page.messageCount;
    int t = page.textNum;
    if (n <= 0) {
        // An empty (or broken) count lists no rows.
        page.pageFirst = 1;
        page.pageLast = 0;
    } else if (n <= kListPageSize) {
        page.pageFirst = 1;
        page.pageLast = n;
    } else if (t == 0 || t > n) {
        // An older-page link saved before messages were erased can point past
        // the newest message: show the newest page then.
        page.pageFirst = n - (kListPageSize - 1);
        page.pageLast = n;
    } else if (t < kListPageSize) {
        page.pageFirst = 1;
        page.pageLast = kListPageSize;
    } else {
        page.pageFirst = t - (kListPageSize - 1);
        page.pageLast = t;
    }
}

namespace {

void printRow(const CgiPage& page) {
    const char* r = page.record;
    // Numbers and dates are the programs' own, but a damaged index could hold
    // anything there: they take the same way as visitor text.
    std::string textNum = visitorText(fieldText(r, field::TextNum).c_str());
    std::string email = fieldText(r, field::Email);
    // Inside the row's own links a visitor's link would take their place.
    const std::string rawName = fieldText(r, field::Name);
    std::string name = email.empty() ? visitorText(rawName.c_str()) : linkText(rawName.c_str());
    emit("<tr>");
    emit("<td bgcolor=#f0f0e0 align=center><font size=-1>%s</font></td>", textNum.c_str());
    if (email.empty()) {
        emit("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", name.c_str());
    } else {
        emit("<td bgcolor=#d0eeed align=center><font size=-1><a href=mailto:%s></font><font size=-1>%s</font></a></td>",
             hrefValue(email.c_str()).c_str(), name.c_str());
    }
    emit("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::Date).c_str()).c_str());
    emit("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::ReadCount).c_str()).c_str());
    emit("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::LineCount).c_str()).c_str());
    emit("<td bgcolor=#d0eeed align=center><a href=%scgi-bin/ShowPage.exe?BoardNum=%d&TextNum=%s><font size=-1>%s</font></a></td></tr>%c%c",
         page.baseDir, page.boardNum, hrefValue(fieldText(r, field::TextNum).c_str()).c_str(), linkText(fieldText(r, field::Subject).c_str()).c_str(), NL,
         NL);
}

}  // namespace

void printList(CgiPage& page, BoardStore& store) {
    // Each record is found from the start by its number: a file longer than
    // its count (a change under way, an old program's stale last slot)
    // then still lists every message once.
    for (int i = page.pageLast; i >= page.pageFirst; --i) {
        if (store.ReadRecord(i, page.record) != StoreResult::Done) continue;
        printRow(page);
    }
    emit("</table>%c", NL);
    emit("</center>%c", NL);
    emit("<br>%c", NL);
    emit("<center>%c", NL);
    if (page.pageFirst != 1) {
        emit("<a href=%scgi-bin/ListPage.exe?BoardNum=%d&TextNum=%d>", page.baseDir, page.boardNum, page.pageFirst - 1);
        emit("<img src=%sImage/leftarrow.gif border=0></a>%c", page.baseDir, NL);
    }
    emit("<a href=%scgi-bin/FormPage.exe?BoardNum=%d&BoardNum=-1><img src=%sImage/posting.gif align=absmiddle border=0></a>%c",
         page.baseDir, page.boardNum, page.baseDir, NL);
    emit("</center>%c", NL);
    printListFooter(page);
}

void printListFooter(const CgiPage& page) {
    emit("<p>%c", NL);
    emit("<center>%c", NL);
    emit("<img src=%sImage/line.gif>%c", page.baseDir, NL);
    emit("<br>%c", NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", page.email, page.email, NL);
    emit("</font></center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}
