#include "submit_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "page/response.h"
#include "permission/password_check.h"
#include "spam/spam_check.h"
#include "spam/spam_fields.h"

int savePage(const Request& request) {
    SubmitPage page(request);
    emitContentType();
    if (page.decodeRequest() < 0) return page.endStatus();
    if (page.hasRequiredFields() < 0) {
        page.showMissingFieldsPage();
        return page.endStatus();
    }
    if (page.requireEditPermission() < 0 || page.requireSpamChecks() < 0 || page.storeMessage() < 0) {
        return page.endStatus();
    }
    page.showStoredMessage();
    page.showListLink();
    return 0;
}

int SubmitPage::decodeRequest() {
    // Servers may leave REMOTE_HOST out and give only the address.
    remoteHost = request().remoteHost ? request().remoteHost->c_str() : request().remoteAddr.c_str();
    contentLength = request().contentLength;

    std::time_t now = request().now;
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
        postedCount = decodeFormBody(request().body, contentLength > 0 ? contentLength : kMaxFormBody, pairs);
        if (pairCount < postedCount) pairCount = postedCount;
        overSize = contentLength < 0 && std::getc(request().body) != EOF;
    }
    int result = readConfig();
    if (result < 0) return result;
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
        return refuse("%s", message);
    }
    return result;
}

const char* SubmitPage::posted(int position) const {
    int k = position - 1;
    if (k < 0 || k >= postedCount || !pairs[k].value) return "";
    return pairs[k].value;
}

const char* SubmitPage::postedAfterFields(const char* name) const {
    for (int k = 5; k < postedCount; ++k) {
        if (pairs[k].name && pairs[k].value && std::strcmp(pairs[k].name, name) == 0) return pairs[k].value;
    }
    return nullptr;
}

int SubmitPage::requireSpamChecks() {
    // No board line: storing refuses it, and nothing is counted for it.
    if (boardDir[0] == '\0') return 1;
    PostedForm form;
    form.board = boardNum;
    form.newPost = textNum == -1;
    form.visitor = visitor();
    for (int k = 0; k < 5; ++k) form.texts[k] = posted(k + 1);
    form.token = postedAfterFields(kTokenField);
    form.honeypot = postedAfterFields(kHoneypotField);
    SpamVerdict verdict = checkPostedForm(spam, bbsDir, request().now, form);
    return verdict == SpamVerdict::Pass ? 1 : refuse("%s", refusalMessage(verdict));
}

int SubmitPage::hasRequiredFields() const {
    return posted(1)[0] && posted(4)[0] && posted(5)[0] ? 1 : -1;
}

int SubmitPage::requireEditPermission() {
    if (textNum == -1) return 1;
    if (checkChangePassword(bbsDir, visitor(), request().now, posted(6), password) > 0) return 1;
    showDenialPage(*this, kEditDenied);
    return endPage(0);
}

int SubmitPage::refuse(const char* format, const char* detail) {
    if (stream) {
        std::fclose(stream);
        stream = nullptr;
    }
    char message[2 * kTextSize];
    std::snprintf(message, sizeof message, format, detail);
    showErrorPage(message);
    return endPage(1);
}

int SubmitPage::showMissingFieldsPage() {
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
    return endPage(0);
}
