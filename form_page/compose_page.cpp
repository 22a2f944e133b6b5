#include "compose_page.h"

#include "page/response.h"
#include "spam/spam_fields.h"

int formPage(const Request& request) {
    ComposePage page(request);
    emitContentType();
    if (page.decodeRequest() < 0) return page.endStatus();
    page.printComposeForm();
    return 0;
}

int ComposePage::decodeRequest() {
    decodeQueryPairs(1);
    boardNum = decimalValue(pairs[0].value);
    return readConfig();
}

void ComposePage::printComposeForm() {
    printPageHead(kVersion, "white");
    emit("<center>%c", NL);
    emit("<img src=%sImage/%s height=60 width=200 border=0>%c", baseDir, titleImage, NL);
    emit("<table border=0 width=480 cellpading=0>%c", NL);
    emit("<tr>%c", NL);
    emit("<td valign=buttom>%c", NL);
    emit("<img align=left border=0 src=%sImage/bookpen.gif>%c", baseDir, NL);
    emit("<br>%c", NL);
    emit("<img width=420 src=%sImage/line_ani.gif>%c", baseDir, NL);
    emit("</td>%c", NL);
    emit("</tr>%c", NL);
    emit("</table>%c", NL);
    emit("</center>%c", NL);
    emit("<center>%c", NL);
    emit("<form method=post action=%scgi-bin/SavePage.exe?BoardNum=%d&TextNum=%d>%c", baseDir, boardNum, -1, NL);
    emit("<table>%c", NL);
    emit("<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18></td></tr>%c", NL);
    emit("<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40></td></tr>%c", NL);
    emit("<tr><td>Homepage</td><td><input type=text name=homepage value=\"http://\" size=60%c", NL);
    emit("maxlength=60></td><tr>%c", NL);
    emit("<tr><td>Subject</td><td><input type=text name=subject value=\"\" size=60 maxlength=60></td></tr>%c", NL);
    emit("<tr><td>Comment</td><td><textarea type=text name=body cols=70 rows=10></textarea>%c", NL);
    printSpamFields(spam, boardNum, request().now);
    emit("</td></tr></table>%c", NL);
    emit("<br>%c", NL);
    emit("<center>%c", NL);
    emit("<input type=submit value=\"글 올리기\">%c", NL);
    emit("<input type=reset value=\"취소하기\">%c", NL);
    emit("</center>%c", NL);
    emit("</form>%c", NL);
    emit("<br>%c", NL);
    emit("</center>%c", NL);
    emit("<p>%c", NL);
    emit("<center>%c", NL);
    emit("<img src=%sImage/line.gif>%c", baseDir, NL);
    emit("<br>%c", NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", email, email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}
