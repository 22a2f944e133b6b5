#include "page/cgi_page.h"
#include "drop_page.h"
#include "page/response.h"

void printRemovedPage(const CgiPage& page) {
    printPageHead(kVersion, "white");
    emit("<br>%c", NL);
    emit("<center>%c", NL);
    emit("<br><br><br><br>%c", NL);
    emit("<font color=228b22 size=2>Successfully removed.</font><br>%c", NL);
    emit("<font color=454545 size=-1>성공적으로 지워졌습니다.</font><br>%c", NL);
    emit("<br><br><br><br>%c", NL);
    emit("<center>%c", NL);
    emit("<font color=4a708b size=-1>%c", NL);
    emit("<a href=%scgi-bin/ListPage.exe?BoardNum=%d&TextNum=0><img src=%sImage/posting.gif border=0></a>%c",
         page.baseDir, page.boardNum, page.baseDir, NL);
    emit("<br>Click%c", NL);
    emit("</font>%c", NL);
    emit("</center><br>%c", NL);
    emit("<img src=%sImage/line.gif width=500><br>%c", page.baseDir, NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", page.email, page.email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}
