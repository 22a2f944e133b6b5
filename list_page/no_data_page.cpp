#include "list_page.h"
#include "page/response.h"

void printNoDataPage(const CgiPage& page) {
    printBoardTitle(page);
    emit("<table border=0 cellspace=3 align=absmiddle><tr><th><font size=-1>글번호</font></th><th><font size=-1>글쓴이</font></th><th><font size=-1>글쓴날짜</font></th><th><font size=-1>읽은횟수</font></th><th><font size=-1>줄수</font></th><th><font size=-1>글제목</font></th></tr></table>%c", NL);
    emit("<br><br><br><br><br>%c", NL);
    emit("<blink><font color=2e8b57 size=-1>There is no data file!!!</font></blink><br>%c", NL);
    emit("<blink><font color=ff1493 size=-1>방명록을 작성하셔야만 합니다!!!</font></blink>%c", NL);
    emit("<br><br><br><br><br>%c", NL);
    emit("<a href=%scgi-bin/FormPage.exe?BoardNum=%d&TextNum=-1><img src=%sImage/posting.gif align=absmiddle border=0></a>%c",
         page.baseDir, page.boardNum, page.baseDir, NL);
    printListFooter(page);
}
