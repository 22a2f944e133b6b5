// gesipan: the site owner's tool. Checks and mends boards, backs them up
// and restores them as JSON Lines, and sets the site password.
//   gesipan [--conf PATH] check [BOARD...]
//   gesipan [--conf PATH] repair [--orphans] [BOARD...]
//   gesipan [--conf PATH] export BOARD
//   gesipan [--conf PATH] import BOARD < FILE
//   gesipan [--conf PATH] password
//   gesipan [--conf PATH] ban ENTRY...
//   gesipan [--conf PATH] unban ENTRY...
// Exit status: 0 done and consistent, 1 problems found or left, 2 usage
// or configuration error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ban_file.h"
#include "board_check.h"
#include "board_json.h"
#include "store.h"
#include "password_file.h"
#include "request.h"
#include "site_config.h"

namespace {

constexpr int kDone = 0;
constexpr int kProblems = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: gesipan [--conf PATH] check [BOARD...]\n"
    "       gesipan [--conf PATH] repair [--orphans] [BOARD...]\n"
    "       gesipan [--conf PATH] export BOARD\n"
    "       gesipan [--conf PATH] import BOARD < FILE\n"
    "       gesipan [--conf PATH] password\n"
    "       gesipan [--conf PATH] ban ADDRESS|ADDRESS/BITS|WORD...\n"
    "       gesipan [--conf PATH] unban ADDRESS|ADDRESS/BITS|WORD...\n";

int usage(const char* why = nullptr) {
    if (why) std::fprintf(stderr, "gesipan: %s\n", why);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

// Runs as the owner of a board directory while it touches the board: files
// the store makes there (its lock, a new index) must stay the web user's,
// not root's. Root's identity comes back when the board is done.
class BoardOwner {
public:
    explicit BoardOwner(const std::string& dir) {
        struct stat info;
        if (::geteuid() != 0 || ::stat(dir.c_str(), &info) != 0 || info.st_uid == 0) return;
        switched_ = ::setegid(info.st_gid) == 0 && ::seteuid(info.st_uid) == 0;
        if (!switched_) restore();
    }
    ~BoardOwner() {
        if (switched_) restore();
    }
    BoardOwner(const BoardOwner&) = delete;
    BoardOwner& operator=(const BoardOwner&) = delete;

private:
    static void restore() {
        if (::seteuid(0) != 0 || ::setegid(0) != 0) std::perror("gesipan: cannot become root again");
    }
    bool switched_ = false;
};

bool boardNumber(const std::string& text, int* board) {
    *board = decimalValue(text.c_str());
    return std::to_string(*board) == text;
}

// The boards named on the command line (all configured ones when none).
bool pickBoards(const SiteConfig& config, const std::vector<std::string>& args, std::vector<int>* boards) {
    if (args.empty()) {
        for (const auto& board : config.boards) boards->push_back(board.first);
        return true;
    }
    for (const std::string& arg : args) {
        int board;
        if (!boardNumber(arg, &board)) {
            std::fprintf(stderr, "gesipan: %s is not a board number\n", arg.c_str());
            return false;
        }
        if (!config.boards.count(board)) {
            std::fprintf(stderr, "gesipan: board %d has no line in the configuration\n", board);
            return false;
        }
        boards->push_back(board);
    }
    return true;
}


int setPassword(const std::string& confPath) {
    std::string password;
    std::string error;
    if (!readNewPassword(stdin, stderr, &password, &error)) {
        std::fprintf(stderr, "gesipan: %s; the password is as it was\n", error.c_str());
        return kProblems;
    }
    std::string hash = hashPassword(password);
    std::fill(password.begin(), password.end(), '\0');
    if (hash.empty()) {
        std::fprintf(stderr, "gesipan: crypt cannot make a yescrypt hash here\n");
        return kProblems;
    }
    std::string conf;
    std::FILE* in = std::fopen(confPath.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "gesipan: cannot open %s\n", confPath.c_str());
        return kUsage;
    }
    conf = readWholeFile(in);
    bool readWhole = !std::ferror(in);
    std::fclose(in);
    if (!readWhole) {
        std::fprintf(stderr, "gesipan: cannot read %s\n", confPath.c_str());
        return kUsage;
    }
    if (!replaceConfig(confPath, withPassword(conf, hash), &error)) {
        std::fprintf(stderr, "gesipan: %s\n", error.c_str());
        return kProblems;
    }
    std::printf("password set in %s\n", confPath.c_str());
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::string confPath = "GuestBook.conf";
    bool moveOrphans = false;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--conf") {
            if (i + 1 >= argc) return usage("--conf needs a path");
            confPath = argv[++i];
        } else if (arg.compare(0, 7, "--conf=") == 0) {
            confPath = arg.substr(7);
        } else if (arg == "--orphans") {
            moveOrphans = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            return kDone;
        } else if (arg.size() > 1 && arg[0] == '-' && (arg[1] < '0' || arg[1] > '9')) {
            return usage(("unknown option " + arg).c_str());
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) return usage();
    const std::string command = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    if (moveOrphans && command != "repair") return usage("--orphans goes with repair only");
    if (command == "password") {
        if (!args.empty()) return usage("password takes no board");
        return setPassword(confPath);
    }
    bool banning = command == "ban" || command == "unban";
    if (command != "check" && command != "repair" && command != "export" && command != "import" && !banning) {
        return usage(("unknown command " + command).c_str());
    }
    if ((command == "export" || command == "import") && args.size() != 1) {
        return usage((command + " takes one board").c_str());
    }

    SiteConfig config;
    std::string error;
    if (!readSiteConfig(confPath, &config, &error)) {
        std::fprintf(stderr, "gesipan: %s\n", error.c_str());
        return kUsage;
    }
    // Board directories are named relative to the programs' working
    // directory, which is the configuration's.
    const std::size_t slash = confPath.rfind('/');
    if (slash != std::string::npos && ::chdir(confPath.substr(0, slash + 1).c_str()) != 0) {
        std::fprintf(stderr, "gesipan: cannot enter the directory of %s: %s\n", confPath.c_str(), std::strerror(errno));
        return kUsage;
    }
    if (banning) {
        if (config.banList.empty()) {
            std::fprintf(stderr, "gesipan: %s has no BAN_LIST line naming the ban list\n", confPath.c_str());
            return kUsage;
        }
        return changeBanList(config.banList, command == "ban", args);
    }
    std::vector<int> boards;
    if (!pickBoards(config, args, &boards)) return kUsage;

    if (command == "export" || command == "import") {
        const int board = boards[0];
        BoardOwner owner(config.boards[board]);
        if (command == "export") return exportBoard(board, config.boards[board], stdout, stderr);
        std::string text = readWholeFile(stdin);
        if (std::ferror(stdin)) {
            std::fprintf(stderr, "gesipan: cannot read standard input\n");
            return kUsage;
        }
        int result = importBoard(board, config.boards[board], text, stderr);
        if (result == kDone) std::printf("board %d: imported\n", board);
        return result;
    }

    CheckOptions options;
    options.moveOrphans = moveOrphans;
    options.progress = stderr;
    int status = kDone;
    for (int board : boards) {
        BoardOwner owner(config.boards[board]);
        int problems = command == "check" ? checkBoard(board, config.boards[board], stdout, options)
                                          : repairBoard(board, config.boards[board], stdout, options);
        if (problems != 0) status = kProblems;
    }
    if (std::fflush(stdout) != 0) return kProblems;
    return status;
}
