// Expected page pieces shared by the program tests, written out line by
// line as the pages must print them.
#pragma once

#include <string>

// The four credit lines of every footer.
inline std::string creditBlock(const std::string& version = "2.13") {
    return "<font color=454545 size=-1>게시판 버전 " + version + ": 여러 게시판을 두는 작은 웹 게시판입니다.<br>\n"
           "누구나 자유롭게 쓰고, 고치고, 나눌 수 있는 자유 소프트웨어입니다.<br>\n"
           "A small web bulletin board for several boards, version " + version + ".<br>\n"
           "Free software: anyone may use, copy and change it.<br>\n";
}

// The common error page around `message`.
inline std::string errorPage(const std::string& baseDir, int board, const std::string& message,
                             const std::string& email) {
    return "<html>\n"
           "<head><title>게시판 버전 2.13</title></head>\n"
           "<body bgcolor=white>\n"
           "<br>\n"
           "<center>\n"
           "<br><br><br><br>\n" +
           message + "\n"
           "<br><br><br><br>\n"
           "<center>\n"
           "<font color=4a708b size=-1>\n"
           "<a href=" + baseDir + "cgi-bin/ListPage.exe?BoadNum=" + std::to_string(board) +
           "&TextNum=0><img src=" + baseDir + "Image/posting.gif border=0></a>\n"
           "<br>Click\n"
           "</font>\n"
           "</center><br>\n"
           "<img src=" + baseDir + "Image/line.gif width=500><br>\n" +
           creditBlock() +
           "<a href=mailto:" + email + ">" + email + "</a></br>\n"
           "</font>\n"
           "</center>\n"
           "</body>\n"
           "</html>\n";
}

constexpr char kConfigMissing[] = "<font color=228b22 size=3>Can't open 'GuestBook.conf'!!!</font><br>";
