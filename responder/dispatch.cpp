#include "dispatch.h"

#include <cstring>

#include "compose_page.h"
#include "drop_page.h"
#include "edit_page.h"
#include "list_page.h"
#include "submit_page.h"
#include "view_page.h"

namespace {

struct Route {
    const char* program;
    PageFunction page;
};

constexpr Route kRoutes[] = {
    {"ListPage.exe", listPage}, {"ShowPage.exe", showPage}, {"FormPage.exe", formPage},
    {"SavePage.exe", savePage}, {"EditPage.exe", editPage}, {"DropPage.exe", dropPage},
};

}  // namespace

PageFunction pageForScript(const std::string& scriptName) {
    std::size_t slash = scriptName.rfind('/');
    std::string program = slash == std::string::npos ? scriptName : scriptName.substr(slash + 1);
    for (const Route& route : kRoutes) {
        if (program == route.program) return route.page;
    }
    return nullptr;
}

int answerUnknownScript(const Request&) {
    emit("Status: 404 Not Found\r\nContent-type: text/plain\r\n\r\nNo such page.\n");
    return 1;
}
