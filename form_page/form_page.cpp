// FormPage: the compose form, which posts to SavePage as message -1.
#include "form_page.h"

#include "page/page_frame.h"
#include "page/spam_form_fields.h"

int formPage(const PageInput& input, const SiteConfig& site, Response& response) {
    PageOut out(response);
    const PageBoard board = pageBoard(site, input.board);
    const Frame& frame = board.frame;
    if (board.refusal) return errorPage(out, frame, *board.refusal);
    pageHead(out, frame, kVersion, "white");
    titleBlock(out, frame, TitleLayout::Form);
    out.put("<form method=post action=%scgi-bin/SavePage.exe?BoardNum=%s&TextNum=%s>\n", frame.baseDir, frame.board, -1);
    out.put("<table>\n");
    out.put("<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18></td></tr>\n");
    out.put("<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40></td></tr>\n");
    out.put("<tr><td>Homepage</td><td><input type=text name=homepage value=\"http://\" size=60\n");
    out.put("maxlength=60></td><tr>\n");
    out.put("<tr><td>Subject</td><td><input type=text name=subject value=\"\" size=60 maxlength=60></td></tr>\n");
    out.put("<tr><td>Comment</td><td><textarea type=text name=body cols=70 rows=10></textarea>\n");
    printSpamFields(out, site, frame.board, input.now);
    formButtons(out);
    footer(out, frame, Footer::Form);
    return 0;
}
