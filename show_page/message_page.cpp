#include <cstdio>
#include <string>

#include "page/html_escape.h"
#include "page/response.h"
#include "store/index_format.h"
#include "view_page.h"

int ViewPage::printMessagePage() {
    const std::string textNumText = fieldText(record, field::TextNum);
    const std::string readCount = fieldText(record, field::ReadCount);
    const std::string name = visitorText(fieldText(record, field::Name).c_str());
    const std::string writerEmail = fieldText(record, field::Email);
    const std::string subject = visitorText(fieldText(record, field::Subject).c_str());
    const std::string homepage = fieldText(record, field::Homepage);
    const std::string remoteHost = fieldText(record, field::RemoteHost);
    const std::string lineCount = fieldText(record, field::LineCount);
    char dateTime[field::Date.width + field::Time.width];
    std::snprintf(dateTime, sizeof dateTime, "%s %s", fieldText(record, field::Date).c_str(),
                  fieldText(record, field::Time).c_str());

    if (!bodyFound) {
        emit("<html>%c", NL);
        emit("<body>%c", NL);
        emit("%s is not found!!!%c", path, NL);
        emit("</body>%c", NL);
        emit("</html>%c", NL);
        return endPage(1);
    }

    printPageHead(kVersion, "white");
    emit("<center>%c", NL);
    emit("<table border=0><caption><b><font size=-1>%s</font></b></caption>%c", subject.c_str(), NL);
    emit("<tr><th>  </th></tr>%c", NL);
    emit("<tr><th>  </th></tr>%c", NL);
    emit("<tr><th><font size=-1> 글번호 </font></th><td>%4s</td><th><font size=-1> 읽은횟수 </font></th><td>%4s</td></tr>%c",
         textNumText.c_str(), readCount.c_str(), NL);
    emit("<tr><th><font size=-1>글쓴이</font></th><td><font size=-1>%s</font></td><th><font size=-1>글쓴날짜</font></th><td><font size=-1>%s</font></td></tr>%c",
         name.c_str(), dateTime, NL);
    emit("<tr><th><font size=-1>E-mail</font></th><td><a href=mailto:%s><font size=-1>%s</font></a></td>",
         hrefValue(writerEmail.c_str()).c_str(), linkText(writerEmail.c_str()).c_str());
    emit("<th><font size=-1>URL</font></th><td><a href=http://%s><font size=-1>%s</font></a></td></tr>%c",
         hrefValue(remoteHost.c_str()).c_str(), linkText(remoteHost.c_str()).c_str(), NL);
    emit("<tr><th><font size=-1>Homepage</font></th><td><a href=%s><font size=-1>%s</font></a></td>%c",
         homepageHref(homepage.c_str()).c_str(), linkText(homepage.c_str()).c_str(), NL);
    emit("<th><font size=-1> 줄수 </font></th><td><font size=-1>%s</font></td></th></tr>%c", lineCount.c_str(), NL);
    emit("</table>%c", NL);
    emit("<img width=420 src=%sImage/blue_line.gif>%c", baseDir, NL);
    emit("<br><br>%c", NL);
    emit("<table border=0>%c", NL);
    emit("<tr><td><font size=-1>%c", NL);

    const std::string shown = visitorText(body.data(), body.size());
    emitBytes(shown.data(), shown.size());

    const int t = textNum;
    const int n = messageCount;
    emit("</font></table>%c", NL);
    emit("<br><br>%c", NL);
    // n > t rather than n >= t + 1: the same test without overflow.
    if (n > t) emit("<a href=%scgi-bin/ShowPage.exe?BoardNum=%d&TextNum=%d>", baseDir, boardNum, t + 1);
    emit("<img src=%sImage/prev.gif border=0 align=middle>%c", baseDir, NL);
    if (n > t) emit("</a>%c", NL);
    emit("<a href=%scgi-bin/ListPage.exe?BoardNum=%d&TextNum=0>", baseDir, boardNum);
    emit("<img src=%sImage/up.gif border=0 align=center></a>%c", baseDir, NL);
    if (t != 1) emit("<a href=%scgi-bin/ShowPage.exe?BoardNum=%d&TextNum=%d>", baseDir, boardNum, t - 1);
    emit("<img src=%sImage/next.gif border=0 align=middle>%c", baseDir, NL);
    if (t != 1) emit("</a>%c", NL);
    emit("<br><br>%c", NL);

    emit("<table>%c", NL);
    emit("<font size=-1>%c", NL);
    emit("<td><form OnSubmit=\"return confirm('확실히 지우시겠습니까?')\" method=post action=%scgi-bin/DropPage.exe?BoardNum=%d&TextNum=%d>%c",
         baseDir, boardNum, t, NL);
    emit("<font size=-1>Password:</font> <input type=password size=10 maxlength=10 name=password>%c", NL);
    emit("<input type=submit value=\"글지우기\"></form></td>%c", NL);
    emit("<td><form OnSubmit=\"return confirm('확실히 수정하시겠습니까?')\" method=post action=%scgi-bin/EditPage.exe?BoardNum=%d&TextNum=%d>%c",
         baseDir, boardNum, t, NL);
    emit("<input type=submit value=\"수정하기\">%c", NL);
    emit("<input type=password size=10 maxlength=10 name=password> <font size=-1>:Password</font></form>%c", NL);
    emit("</font></td>%c", NL);
    emit("</table>%c", NL);

    emit("<img src=%sImage/line.gif width=500 border=0><br>%c", baseDir, NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", email, email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
    return 1;
}
