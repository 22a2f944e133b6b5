// The page that answers a post: the message as it now stands.
#include <cstdio>
#include <string>

#include "page/html_escape.h"
#include "page/response.h"
#include "store/index_format.h"
#include "submit_page.h"

void SubmitPage::showStoredMessage() {
    const std::string writerEmail = fieldText(record, field::Email);
    const char* homepage = posted(3);

    printPageHead(kVersion, "white");
    emit("<center>%c", NL);
    emit("<table border=0><caption><b><font size=-1>%s</font></b></caption>%c",
         visitorText(fieldText(record, field::Subject).c_str()).c_str(), NL);
    emit("<tr><th>  </th></tr>%c", NL);
    emit("<tr><th>  </th></tr>%c", NL);
    emit("<tr><th><font size=-1> 글번호 </font></th><td><font size=-1>%4s</font></td><th><font size=-1> 읽은횟수 </font></th><td><font size=-1>%4s</font></td></tr>%c",
         fieldText(record, field::TextNum).c_str(), fieldText(record, field::ReadCount).c_str(), NL);
    emit("<tr><th><font size=-1>글쓴이</font></th><td><font size=-1>%s</font></td><th><font size=-1>글쓴날짜</font></th><td><font size=-1>%s</font></td></tr>%c",
         visitorText(fieldText(record, field::Name).c_str()).c_str(), stampText, NL);
    emit("<tr><th><font size=-1>E-mail</font></th><td><a href=mailto:%s><font size=-1>%s</font></a></td>",
         hrefValue(writerEmail.c_str()).c_str(), linkText(writerEmail.c_str()).c_str());
    emit("<th><font size=-1>URL</font></th><td><a href=http://%s><font size=-1>%s</font></a></td></tr>%c",
         hrefValue(remoteHost).c_str(), linkText(remoteHost).c_str(), NL);
    emit("<tr><th><font size=-1>Homepage</font></th><td><a href=%s><font size=-1>%s</font></a></td>%c",
         homepageHref(homepage).c_str(), linkText(homepage).c_str(), NL);
    emit("<th><font size=-1> 줄수 </font></th><td><font size=-1>%s</font></td></th></tr>%c",
         fieldText(record, field::LineCount).c_str(), NL);
    emit("</table>%c", NL);
    emit("<img width=420 src=%sImage/blue_line.gif>%c", baseDir, NL);
    emit("<br><br>%c", NL);
    emit("<table border=0>%c", NL);
    emit("<tr><td><font size=-1>%c", NL);
    const std::string shown = visitorText(storedBody.data(), storedBody.size());
    emitBytes(shown.data(), shown.size());
    emit("</font></table>%c", NL);
    emit("<br>%c", NL);
    emit("<img src=%sImage/line.gif width=500><br>%c", baseDir, NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", email, email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}

void SubmitPage::showListLink() {
    emit("<br>%c", NL);
    emit("<center>%c", NL);
    emit("<font color=4a708b size=-1>%c", NL);
    emit("<a href=%scgi-bin/ListPage.exe?BoardNum=%d&TextNum=0><img src=%sImage/posting.gif border=0></a>%c", baseDir,
         boardNum, baseDir, NL);
    emit("<br>Click%c", NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
}
