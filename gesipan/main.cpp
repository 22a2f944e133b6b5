// gesipan: the site owner's tool. Checks and mends boards, backs them up
// and restores them as JSON Lines, lists and erases messages, and sets the
// site password.
//   gesipan [--conf PATH] check [BOARD...]
//   gesipan [--conf PATH] repair [--orphans] [BOARD...]
//   gesipan [--conf PATH] export BOARD
//   gesipan [--conf PATH] import BOARD < FILE
//   gesipan [--conf PATH] list [--json] [--limit N] BOARD
//   gesipan [--conf PATH] erase [--dry-run] [--json] BOARD [N | N-M]... [--host ADDR]... [--word WORD]...
//   gesipan [--conf PATH] password
//   gesipan [--conf PATH] ban ENTRY...
//   gesipan [--conf PATH] unban ENTRY...
//   gesipan [--conf PATH] events [--board N] [--since TIME] [--json]
//   gesipan --version
// Exit status: 0 done and consistent, 1 problems found or left, 2 usage
// or configuration error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ban_file.h"
#include "board_check.h"
#include "board_json.h"
#include "json_text.h"
#include "event_table.h"
#include "moderation.h"
#include "store/index_format.h"
#include "password_file.h"
#include "text/decimal.h"
#include "config/site_config.h"

namespace {

// Every byte of `file` from where it stands to its end.
std::string readStream(std::FILE* file) {
    std::string data;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
    return data;
}

constexpr int kDone = 0;
constexpr int kProblems = 1;
constexpr int kUsage = 2;
constexpr int kDefaultListed = 20;

const char kUsageText[] =
    "usage: gesipan [--conf PATH] check [BOARD...]\n"
    "       gesipan [--conf PATH] repair [--orphans] [BOARD...]\n"
    "       gesipan [--conf PATH] export BOARD\n"
    "       gesipan [--conf PATH] import BOARD < FILE\n"
    "       gesipan [--conf PATH] list [--json] [--limit N] BOARD\n"
    "       gesipan [--conf PATH] erase [--dry-run] [--json] BOARD [N | N-M]... [--host ADDR]... [--word WORD]...\n"
    "       gesipan [--conf PATH] password\n"
    "       gesipan [--conf PATH] ban ADDRESS|ADDRESS/BITS|WORD...\n"
    "       gesipan [--conf PATH] unban ADDRESS|ADDRESS/BITS|WORD...\n"
    "       gesipan [--conf PATH] events [--board N] [--since TIME] [--json]\n"
    "       gesipan --version\n";

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

// The site's boards: number -> directory, as the pages find them.
using BoardDirs = std::map<int, std::string>;

// The boards of the configuration at `path`; false (and `error` says why)
// when it cannot be read whole or a board's directory would not fit the
// pages' field.
bool readBoardDirs(const std::string& path, BoardDirs* dirs, std::string* banList, std::string* eventLog,
                   bool* misread, std::string* error) {
    SiteConfig site = readSiteConfig(path.c_str());
    if (site.status != SiteConfig::Status::Read) {
        *error = (site.status == SiteConfig::Status::CannotOpen ? "cannot open " : "cannot read ") + path;
        return false;
    }
    // The pages refuse to serve a site whose lines they do not understand.
    for (const std::string& fault : site.faults) {
        std::fprintf(stderr, "gesipan: %s, %s: not understood; the pages refuse to serve until it is mended\n",
                     path.c_str(), terminalText(fault).c_str());
    }
    *eventLog = site.eventLog;
    *misread = !site.faults.empty();
    for (const auto& board : site.boards()) {
        if (board.second.dirTooLong) {
            *error = "the directory of board " + std::to_string(board.first) + " is too long";
            return false;
        }
        (*dirs)[board.first] = board.second.dir;
    }
    *banList = site.spam.banListPath;
    return true;
}

// The boards named on the command line (all configured ones when none).
bool pickBoards(const BoardDirs& config, const std::vector<std::string>& args, std::vector<int>* boards) {
    if (args.empty()) {
        for (const auto& board : config) boards->push_back(board.first);
        return true;
    }
    for (const std::string& arg : args) {
        int board;
        if (!boardNumber(arg, &board)) {
            std::fprintf(stderr, "gesipan: %s is not a board number\n", arg.c_str());
            return false;
        }
        if (!config.count(board)) {
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
    conf = readStream(in);
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

struct Moderation {
    bool json = false;
    bool dryRun = false;
    int limit = kDefaultListed;
    bool limited = false;
    Selection selection;
    bool used() const { return json || dryRun || limited || !selection.hosts.empty() || !selection.words.empty(); }
};

// Reads the list or erase option at argv[*i] and its value: 1 taken, 0
// no such option, -1 a usage error (reported).
int takeModerationOption(int argc, char** argv, int* i, Moderation* moderation) {
    const std::string arg = argv[*i];
    const char* value = *i + 1 < argc ? argv[*i + 1] : nullptr;
    if (arg == "--json") {
        moderation->json = true;
        return 1;
    }
    if (arg == "--dry-run") {
        moderation->dryRun = true;
        return 1;
    }
    if (arg != "--limit" && arg != "--host" && arg != "--word") return 0;
    if (!value || !*value) {
        usage((arg + " needs a value").c_str());
        return -1;
    }
    ++*i;
    if (arg == "--limit") {
        std::pair<int, int> count;
        if (!parseRange(value, &count) || count.first != count.second) {
            usage("--limit needs a number from 1 to 9999");
            return -1;
        }
        moderation->limit = count.first;
        moderation->limited = true;
    } else if (arg == "--host") {
        moderation->selection.hosts.push_back(value);
    } else {
        std::string word;
        // Board text is EUC-KR; the word is typed in UTF-8.
        if (!boardBytesOfUtf8(value, &word)) {
            usage("--word: not UTF-8 text that EUC-KR can hold");
            return -1;
        }
        moderation->selection.words.push_back(word);
    }
    return 1;
}

// Whether the list and erase options given go with `command`; reported when not.
bool moderationFits(const std::string& command, const Moderation& moderation) {
    const char* why = nullptr;
    if (moderation.used() && command != "list" && command != "erase") {
        why = "that option goes with list or erase only";
    } else if (command == "list" && (moderation.dryRun || !moderation.selection.empty())) {
        why = "--dry-run, --host and --word go with erase";
    } else if (command == "erase" && moderation.limited) {
        why = "--limit goes with list";
    }
    if (why) usage(why);
    return why == nullptr;
}

// The message numbers and ranges after an erase's board; reported when
// there are none and no other selection either.
bool pickErased(const std::vector<std::string>& args, Selection* selection) {
    if (args.empty()) {
        usage("erase takes a board");
        return false;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::pair<int, int> range;
        if (!parseRange(args[i], &range)) {
            std::fprintf(stderr, "gesipan: %s is no message number or range N-M\n", args[i].c_str());
            return false;
        }
        selection->ranges.push_back(range);
    }
    if (selection->empty()) {
        usage("erase needs message numbers, --host or --word");
        return false;
    }
    return true;
}

int moderate(const std::string& command, int board, const std::string& dir, const Moderation& moderation,
             const std::string& eventLog) {
    ShowOptions options;
    options.eventLog = eventLog;
    options.json = moderation.json;
    options.progress = stderr;
    BoardOwner owner(dir);
    if (command == "list") return listBoard(board, dir, moderation.limit, options);
    return eraseMessages(board, dir, moderation.selection, moderation.dryRun, options);
}

}  // namespace

int main(int argc, char** argv) {
    std::string confPath = GESIPAN_DEFAULT_CONF;
    bool moveOrphans = false;
    Moderation moderation;
    EventFilter eventFilter;
    std::string since;
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
        } else if (arg == "--board" || arg == "--since") {
            if (i + 1 >= argc) return usage((arg + " needs a value").c_str());
            const std::string value = argv[++i];
            if (arg == "--since") since = value;
            if (arg == "--board" && !boardNumber(value, &eventFilter.board)) return usage("--board needs a board number");
            eventFilter.anyBoard = eventFilter.anyBoard && arg != "--board";
        } else if (int taken = takeModerationOption(argc, argv, &i, &moderation)) {
            if (taken < 0) return kUsage;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            return kDone;
        } else if (arg == "--version") {
            std::printf("gesipan %s\n", GESIPAN_VERSION);
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
    const bool moderating = command == "list" || command == "erase";
    const bool events = command == "events";
    if (events) {
        eventFilter.json = moderation.json;
        moderation.json = false;
        if (!args.empty()) return usage("events takes no board; use --board N");
        if (!since.empty() && !parseSince(since, std::time(nullptr), &eventFilter.since)) {
            return usage("--since takes 2026-12-08, 2026-12-08T15:04, 90m, 24h or 7d");
        }
    } else if (!since.empty() || !eventFilter.anyBoard) {
        return usage("--board and --since go with events only");
    }
    if (!moderationFits(command, moderation)) return kUsage;
    if (command == "password") {
        if (!args.empty()) return usage("password takes no board");
        return setPassword(confPath);
    }
    bool banning = command == "ban" || command == "unban";
    if (command != "check" && command != "repair" && command != "export" && command != "import" && !moderating &&
        !banning && !events) {
        return usage(("unknown command " + command).c_str());
    }
    if ((command == "export" || command == "import" || command == "list") && args.size() != 1) {
        return usage((command + " takes one board").c_str());
    }
    if (command == "erase" && !pickErased(args, &moderation.selection)) return kUsage;

    BoardDirs boardDirs;
    std::string banList;
    std::string eventLog;
    bool misread = false;
    std::string error;
    if (!readBoardDirs(confPath, &boardDirs, &banList, &eventLog, &misread, &error)) {
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
    if (events) return showEvents(eventLog, eventFilter, stdout, stderr);
    if (banning) {
        if (banList.empty()) {
            std::fprintf(stderr, "gesipan: %s has no BAN_LIST line naming the ban list\n", confPath.c_str());
            return kUsage;
        }
        return changeBanList(banList, command == "ban", args);
    }
    std::vector<int> boards;
    if (!pickBoards(boardDirs, moderating ? std::vector<std::string>(args.begin(), args.begin() + 1) : args, &boards)) {
        return kUsage;
    }
    if (moderating) return moderate(command, boards[0], boardDirs[boards[0]], moderation, eventLog);

    if (command == "export" || command == "import") {
        const int board = boards[0];
        BoardOwner owner(boardDirs[board]);
        if (command == "export") return exportBoard(board, boardDirs[board], stdout, stderr);
        std::string text = readStream(stdin);
        if (std::ferror(stdin)) {
            std::fprintf(stderr, "gesipan: cannot read standard input\n");
            return kUsage;
        }
        int result = importBoard(board, boardDirs[board], text, stderr);
        if (result == kDone) std::printf("board %d: imported\n", board);
        return result;
    }

    CheckOptions options;
    options.moveOrphans = moveOrphans;
    options.progress = stderr;
    int status = kDone;
    for (int board : boards) {
        BoardOwner owner(boardDirs[board]);
        int problems = command == "check" ? checkBoard(board, boardDirs[board], stdout, options)
                                          : repairBoard(board, boardDirs[board], stdout, options);
        if (problems != 0) status = kProblems;
    }
    if (command == "check" && misread) status = kProblems;
    if (std::fflush(stdout) != 0) return kProblems;
    return status;
}
