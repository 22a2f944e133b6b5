#include "submit_page.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "output.h"
#include "permission.h"

int SubmitPage::decodeRequest() {
    remoteAddr = std::getenv("REMOTE_ADDR");
    forwardedFor = std::getenv("HTTP_X_FORWARDED_FOR");
    remoteHost = std::getenv("REMOTE_HOST");
    // Servers may leave REMOTE_HOST out and give only the address.
    if (!remoteHost) remoteHost = remoteAddr;
    if (!remoteHost) remoteHost = "";
    const char* length = std::getenv("CONTENT_LENGTH");
    contentLength = length ? decimalValue(length) : 0;

    std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    std::strftime(dateText, sizeof dateText, "%Y년%m월%d일", &local);
    std::strftime(timeText, sizeof timeText, "%H시%M분", &local);
    std::snprintf(stampText, sizeof stampText, "%s %s", dateText, timeText);

    decodeQueryPairs(2);
    boardNum = decimalValue(pairs[0].value);
    textNum = decimalValue(pairs[1].value);
    // No length, or 0, is no form body. The limit is checked before anything
    // is read, and again for a negative length, which reads to the end of
    // input: then at most the limit is read.
    bool overSize = contentLength > kMaxFormBody;
    if (!overSize && contentLength != 0) {
        postedCount = decodeFormBody(stdin, contentLength > 0 ? contentLength : kMaxFormBody, pairs);
        if (pairCount < postedCount) pairCount = postedCount;
        overSize = contentLength < 0 && std::getc(stdin) != EOF;
    }
    int result = readConfig();
    // Behind a trusted proxy its name and address are the proxy's own.
    if (forwardedByTrustedProxy(remoteAddr, forwardedFor, trustedProxies)) {
        forwardedHost = visitor();
        remoteHost = forwardedHost.c_str();
    }
    copyField(path, sizeof path, boardDir);
    if (overSize) {
        char message[kTextSize];
        std::snprintf(message, sizeof message,
                      "<font color=228b22 size=3>글이 너무 깁니다. %d kB까지만 올릴 수 있습니다!!!<br>"
                      "The message is too long: at most %d kB may be posted!!!</font><br>",
                      kMaxFormBody / 1024, kMaxFormBody / 1024);
        refuse("%s", message);
    }
    return result;
}

const char* SubmitPage::posted(int position) const {
    int k = position - 1;
    if (k < 0 || k >= postedCount || !pairs[k].value) return "";
    return pairs[k].value;
}

int SubmitPage::hasRequiredFields() const {
    return posted(1)[0] && posted(4)[0] && posted(5)[0] ? 1 : -1;
}

void SubmitPage::requireEditPermission() {
    if (textNum == -1) return;
    if (checkChangePassword(bbsDir, visitor(), posted(6), password) > 0) return;
    showDenialPage(*this, kEditDenied);
    endRun(0);
}

void SubmitPage::refuse(const char* format, const char* detail) {
    if (stream) {
        std::fclose(stream);
        stream = nullptr;
    }
    char message[2 * kTextSize];
    std::snprintf(message, sizeof message, format, detail);
    showErrorPage(message);
    endRun(1);
}

void SubmitPage::showMissingFieldsPage() {
    printPageHead(kVersion, "white");
    emit("<center>%c", NL);
    emit("<img border=0 src=%sImage/%s><br><br>%c", baseDir, titleImage, NL);
    emit("<img src=%sImage/line_ani.gif><br><br>%c", baseDir, NL);
    emit("<font size=3>방문자의 이름, 제목, 내용을 써주세요!!!</font><br>%c", NL);
    emit("<font size=3>You should write your name, title and comment!!!</font></center>%c", NL);
    emit("<br><br><br>%c", NL);
    emit("<center><a href=%scgi-bin/FormPage.exe?BoardNum=%d><img border=0 src=%sImage/before.gif></a></center>%c",
         baseDir, boardNum, baseDir, NL);
    emit("</body>%c", NL);
    emit("</html>%c", NL);
    endRun(0);
}
