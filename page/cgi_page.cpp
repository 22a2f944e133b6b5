#include "page/cgi_page.h"

#include <cstdlib>
#include <cstring>

#include "site/config_lines.h"
#include "page/response.h"
#include "store/index_format.h"

namespace {

const char* kConfigFile = "GuestBook.conf";

}  // namespace

void copyField(char* field, std::size_t size, const char* text) {
    std::snprintf(field, size, "%s", text);
}

CgiPage::CgiPage(const Request& request)
    : pageFirst(0),
      pageLast(0),
      header(new char[kHeaderSize]()),
      record(new char[kRecordSize]()),
      pairs(new FormPair[kPairCapacity]()),
      pairCount(0),
      queryString(nullptr),
      path(),
      boardNum(0),
      textNum(0),
      messageCount(0),
      stream(nullptr),
      baseDir(),
      boardDir(),
      email(),
      eraseDomain(),
      titleImage(),
      password(),
      bbsDir(),
      remoteAddr(request.remoteAddr.c_str()),
      forwardedFor(request.forwardedFor.c_str()),
      request_(request) {}

CgiPage::~CgiPage() {
    if (stream) std::fclose(stream);
    for (int k = 0; k < kPairCapacity; ++k) {
        std::free(pairs[k].name);
        std::free(pairs[k].value);
    }
    delete[] header;
    delete[] record;
    delete[] pairs;
    queryString = nullptr;
}

int CgiPage::endPage(int status) {
    endStatus_ = status;
    return -1;
}

void CgiPage::decodeQueryPairs(int count) {
    queryText_ = request_.query;
    queryString = queryText_.data();
    for (int k = 0; k < count; ++k) {
        pairs[k].value = cutToken(queryString, '&');
        pairs[k].name = cutToken(pairs[k].value, '=');
    }
    if (pairCount < count) pairCount = count;
}

int CgiPage::decodePostedForm() {
    int posted = decodeFormBody(request_.body, request_.contentLength, pairs);
    if (pairCount < posted) pairCount = posted;
    return posted;
}

int CgiPage::decodeRequest() {
    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    return readConfig();
}

const char* CgiPage::pairValue(int k) const {
    if (k < 0 || k >= pairCount || !pairs[k].value) return "";
    return pairs[k].value;
}

int CgiPage::setBoardPath(const char* name) {
    int needed = std::snprintf(path, sizeof path, "%s%s", boardDir, name);
    if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof path) {
        path[0] = '\0';
        return -1;
    }
    return 1;
}

char* CgiPage::intToText(int value, char* buffer, std::size_t size) {
    std::snprintf(buffer, size, "%d", value);
    return buffer;
}

int CgiPage::readConfig() {
    auto refuse = [this](const char* message) {
        showErrorPage(message);
        return endPage(1);
    };
    const char* cantOpen = "<font color=228b22 size=3>Can't open 'GuestBook.conf'!!!</font><br>";
    stream = std::fopen(kConfigFile, "r");
    if (!stream) return refuse(cantOpen);
    ConfigLineReader reader;
    char line[kTextSize] = "";
    char word[kTextSize] = "";
    char boardMail[kTextSize] = "";
    char boardText[16];
    intToText(boardNum, boardText, sizeof boardText);
    bool boardDirTooLong = false;

    int atEnd = reader.readLine(line, sizeof line, stream);
    while (!atEnd) {
        if (line[0] != '\0' && line[0] != '#') {
            bool lineMayBeCut = std::strlen(line) >= sizeof line - 2;
            reader.takeWord(word, sizeof word, line);
            if (std::strcmp(word, "BASE_DIR") == 0) {
                copyField(baseDir, sizeof baseDir, line);
            } else if (std::strcmp(word, "BBS_DIR") == 0) {
                copyField(bbsDir, sizeof bbsDir, line);
            } else if (std::strcmp(word, "ERASE_DOMAIN") == 0) {
                copyField(eraseDomain, sizeof eraseDomain, line);
            } else if (std::strcmp(word, "EMAIL") == 0) {
                copyField(email, sizeof email, line);
            } else if (std::strcmp(word, "Password") == 0) {
                copyField(password, sizeof password, line);
            } else if (std::strcmp(word, "TRUSTED_PROXY") == 0) {
                // A line cut at the buffer could end in a shortened, other
                // address: trust nothing of it.
                if (!lineMayBeCut) trustedProxies.addAll(line);
            } else if (spam.readLine(word, line)) {
            } else if (std::strcmp(word, boardText) == 0) {
                reader.takeWord(word, sizeof word, line);
                reader.takeWord(boardMail, sizeof boardMail, line);
                copyField(titleImage, sizeof titleImage, word);
                // A cut directory would name another board's files: refuse it.
                int needed = std::snprintf(boardDir, sizeof boardDir, "%s%d%s", bbsDir, boardNum, "/");
                boardDirTooLong = needed < 0 || static_cast<std::size_t>(needed) >= sizeof boardDir;
                if (boardDirTooLong) boardDir[0] = '\0';
                if (boardMail[0] != '\0') copyField(email, sizeof email, boardMail);
            }
        }
        atEnd = reader.readLine(line, sizeof line, stream);
    }
    // A file that breaks off in a read error is no configuration: its
    // missing lines could be the board's directory or the password.
    bool readWhole = !std::ferror(stream);
    std::fclose(stream);
    stream = nullptr;
    if (!readWhole) return refuse(cantOpen);
    if (boardDirTooLong) return refuse("<font color=228b22 size=3>The board directory in 'GuestBook.conf' is too long!!!</font><br>");
    return 1;
}

void printPageHead(const char* version, const char* bodyColour) {
    emit("<html>%c", NL);
    emit("<head><title>게시판 버전 %s</title></head>%c", version, NL);
    emit("<body bgcolor=%s>%c", bodyColour, NL);
}

void printCreditBlock(const char* version) {
    emit("<font color=454545 size=-1>게시판 버전 %s: 여러 게시판을 두는 작은 웹 게시판입니다.<br>%c", version, NL);
    emit("누구나 자유롭게 쓰고, 고치고, 나눌 수 있는 자유 소프트웨어입니다.<br>%c", NL);
    emit("A small web bulletin board for several boards, version %s.<br>%c", version, NL);
    emit("Free software: anyone may use, copy and change it.<br>%c", NL);
}

void CgiPage::showErrorPage(const char* message) {
    printPageHead(kVersion, "white");
    emit("<br>%c", NL);
    emit("<center>%c", NL);
    emit("<br><br><br><br>%c", NL);
    emit("%s%c", message, NL);
    emit("<br><br><br><br>%c", NL);
    emit("<center>%c", NL);
    emit("<font color=4a708b size=-1>%c", NL);
    emit("<a href=%scgi-bin/ListPage.exe?BoadNum=%d&TextNum=0><img src=%sImage/posting.gif border=0></a>%c",
         baseDir, boardNum, baseDir, NL);
    emit("<br>Click%c", NL);
    emit("</font>%c", NL);
    emit("</center><br>%c", NL);
    emit("<img src=%sImage/line.gif width=500><br>%c", baseDir, NL);
    printCreditBlock(kVersion);
    emit("<a href=mailto:%s>%s</a></br>%c", email, email, NL);
    emit("</font>%c", NL);
    emit("</center>%c", NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
}
