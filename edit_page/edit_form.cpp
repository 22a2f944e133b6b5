#include "edit_page.h"
#include "page/html_escape.h"
#include "page/response.h"
#include "spam/spam_fields.h"
#include "store/index_format.h"

void printEditForm(const GuardedPage& page, const std::string& body) {
    const char* r = page.record;
    printPageHead("2.11", "white");
    emit("<center>%c", NL);
    emit("<img src=%sImage/%s height=60 width=200 border=0>%c", page.baseDir, page.titleImage, NL);
    emit("<table border=0 width=480 cellpading=0>%c", NL);
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
    emit("<form method=post action=%scgi-bin/SavePage.exe?BoardNum=%d&TextNum=%d>%c", page.baseDir, page.boardNum,
         page.textNum, NL);
    emit("<table>%c", NL);
    emit("<tr><td>Name</td><td><input type=text name=name size=20 maxlength=18 value=\"%s\"></td></tr>%c",
         attributeValue(fieldText(r, field::Name).c_str()).c_str(), NL);
    emit("<tr><td>E-mail</td><td><input type=text name=email size=40 maxlength=40 value=\"%s\"></td></tr>%c",
         attributeValue(fieldText(r, field::Email).c_str()).c_str(), NL);
    emit("<tr><td>Homepage</td><td><input type=text name=homepage size=60 value=\"%s\"%c",
         attributeValue(fieldText(r, field::Homepage).c_str()).c_str(), NL);
    emit("maxlength=60></td><tr>%c", NL);
    emit("<tr><td>Subject</td><td><input type=text name=subject size=60 value=\"%s\" maxlength=60></td></tr>%c",
         attributeValue(fieldText(r, field::Subject).c_str()).c_str(), NL);
    emit("<tr><td>Comment</td><td><textarea type=text name=body cols=60 rows=10>%c", NL);
    const std::string text = textAreaText(body);
    emitBytes(text.data(), text.size());
    emit("</textarea>%c", NL);
    // SavePage checks the password of an edit: it travels back as the sixth value.
    emit("<input type=hidden name=password value=\"%s\">%c", attributeValue(page.postedPassword).c_str(), NL);
    printSpamFields(page.spam, page.boardNum, page.request().now);
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
    emit("<img src=%sImage/line.gif>%c", page.baseDir, NL);
    emit("<br>%c", NL);
    printCreditBlock("2.11");
    emit("<a href=mailto:%s>%s</a></br>%c", page.email, page.email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}
