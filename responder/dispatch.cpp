#include "dispatch.h"

#include <cstring>

#include "drop_page.h"
#include "edit_page.h"
#include "feed_page.h"
#include "form_page.h"
#include "front_page.h"
#include "list_page.h"
#include "save_page.h"
#include "show_page.h"

namespace {

constexpr const PageProgram* kPages[] = {&kListPage, &kShowPage, &kFormPage, &kSavePage, &kEditPage, &kDropPage,
                                             &kFeedPage, &kFrontPage};

constexpr char kNoSuchPage[] = "Status: 404 Not Found\r\nContent-type: text/plain\r\n\r\nNo such page.\n";

}  // namespace

const PageProgram* pageForScript(const std::string& scriptName) {
    std::size_t slash = scriptName.rfind('/');
    std::string program = slash == std::string::npos ? scriptName : scriptName.substr(slash + 1);
    for (const PageProgram* page : kPages) {
        if (program == page->name) return page;
    }
    return nullptr;
}

int answerUnknownScript(Response& response) {
    response.append(kNoSuchPage, sizeof kNoSuchPage - 1);
    return 1;
}
