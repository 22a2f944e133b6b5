// ListPage: one page of a board's message list.
#include "list_page.h"

#include <string>

#include "page/html_escape.h"
#include "page/page_frame.h"
#include "store/board_store.h"
#include "store/index_format.h"

namespace {

const char kColumnHeads[] =
    "<th><font size=-1>글번호</font></th><th><font size=-1>글쓴이</font></th><th><font size=-1>글쓴날짜</font></th>"
    "<th><font size=-1>읽은횟수</font></th><th><font size=-1>줄수</font></th><th><font size=-1>글제목</font></th>";

void printNoDataPage(PageOut& out, const Frame& frame) {
    pageHead(out, frame, kVersion, "ffffff", true);
    titleBlock(out, frame, TitleLayout::Listing);
    out.put("<table border=0 cellspace=3 align=absmiddle><tr>%s</tr></table>\n", Markup::raw(kColumnHeads));
    out.put("<br><br><br><br><br>\n");
    if (frame.phonePages) {
        // An empty board is no error: a visitor is asked for the first message.
        out.put("<font color=2e8b57>아직 글이 없습니다. 첫 글을 남겨 주세요.</font><br>\n");
    } else {
        out.put("<blink><font color=2e8b57 size=-1>There is no data file!!!</font></blink><br>\n");
        out.put("<blink><font color=ff1493 size=-1>방명록을 작성하셔야만 합니다!!!</font></blink>\n");
    }
    out.put("<br><br><br><br><br>\n");
    out.put("<a href=%scgi-bin/FormPage.exe?BoardNum=%s&TextNum=-1><img src=%sImage/posting.gif align=absmiddle border=0></a>\n",
            frame.baseDir, frame.board, frame.baseDir);
    footer(out, frame, Footer::Listing);
}

void printRow(PageOut& out, const Frame& frame, const char* r) {
    // Numbers and dates are the programs' own, but a damaged index could
    // hold anything there: they take the same way as visitor text.
    const std::string email = fieldText(r, field::Email);
    const std::string name = fieldText(r, field::Name);
    out.put("<tr>");
    out.put("<td bgcolor=#f0f0e0 align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::TextNum).c_str()));
    if (email.empty()) {
        out.put("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(name.c_str()));
    } else {
        // Inside the row's own link a visitor's link would take its place.
        out.put("<td bgcolor=#d0eeed align=center><font size=-1><a href=mailto:%s></font><font size=-1>%s</font></a></td>",
                hrefValue(email.c_str()), linkText(name.c_str()));
    }
    out.put("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::Date).c_str()));
    out.put("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::ReadCount).c_str()));
    out.put("<td bgcolor=#d0eeed align=center><font size=-1>%s</font></td>", visitorText(fieldText(r, field::LineCount).c_str()));
    out.put("<td bgcolor=#d0eeed align=center><a href=%scgi-bin/ShowPage.exe?BoardNum=%s&TextNum=%s><font size=-1>%s</font></a></td></tr>\n\n",
            frame.baseDir, frame.board, hrefValue(fieldText(r, field::TextNum).c_str()),
            linkText(fieldText(r, field::Subject).c_str()));
}

}  // namespace

ListRange listRange(int count, int asked) {
    // An empty (or broken) count lists no rows.
    if (count <= 0) return {1, 0};
    if (count <= kListPageSize) return {1, count};
    // An older-page link saved before messages were erased can point past
    // the newest message: the newest page then.
    if (asked == 0 || asked > count) return {count - (kListPageSize - 1), count};
    if (asked < kListPageSize) return {1, kListPageSize};
    return {asked - (kListPageSize - 1), asked};
}

int listPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    // Held while the index is read, so the rows belong to the count read
    // first; without it the listing is read all the same.
    BoardStore store(board.settings.dir.c_str());
    store.lockForReading();
    if (!board.settings.fits(kIndexName)) return errorPage(out, frame, refusal::pathTooLong());
    char header[kHeaderSize];
    StoreResult head = store.ReadHeader(header);
    if (head == StoreResult::NoStore || head == StoreResult::Failed) {
        printNoDataPage(out, frame);
        return 0;
    }
    // A header that cannot be read whole holds no count.
    const int count = head == StoreResult::Done ? store.messageCount() : 0;
    pageHead(out, frame, kVersion, "ffffff", true);
    titleBlock(out, frame, TitleLayout::Listing);
    out.put("<table border=0 align=center><tr>%s</tr>\n", Markup::raw(kColumnHeads));
    const ListRange range = listRange(count, input.message);
    // Each record is found from the start by its number: a file longer
    // than its count (a change under way, an old program's stale last
    // slot) then still lists every message once.
    std::string records;
    store.ReadRecords(range.first, range.last, &records);
    for (int i = range.last; i >= range.first; --i) {
        std::size_t at = static_cast<std::size_t>(i - range.first) * kRecordSize;
        if (at + kRecordSize <= records.size()) printRow(out, frame, records.data() + at);
    }
    out.put("</table>\n");
    out.put("</center>\n");
    out.put("<br>\n");
    out.put("<center>\n");
    if (range.first != 1) {
        out.put("<a href=%scgi-bin/ListPage.exe?BoardNum=%s&TextNum=%s>", frame.baseDir, frame.board, range.first - 1);
        out.put("<img src=%sImage/leftarrow.gif border=0></a>\n", frame.baseDir);
    }
    out.put("<a href=%scgi-bin/FormPage.exe?BoardNum=%s&BoardNum=-1><img src=%sImage/posting.gif align=absmiddle border=0></a>\n",
            frame.baseDir, frame.board, frame.baseDir);
    out.put("</center>\n");
    footer(out, frame, Footer::Listing);
    return 0;
}
