// A throw-away site directory for tests: cgi-bin/ with GuestBook.conf and
// board directories under boards/.
#pragma once

#include <string>

class ScratchSite {
public:
    ScratchSite();
    ~ScratchSite();
    ScratchSite(const ScratchSite&) = delete;
    ScratchSite& operator=(const ScratchSite&) = delete;

    const std::string& root() const { return root_; }
    // The programs' working directory.
    std::string cgiBin() const { return root_ + "/cgi-bin"; }
    // The BBS_DIR of the standard configuration, with its trailing "/".
    std::string bbsDir() const { return root_ + "/boards/"; }
    // The directory of board n ("<bbsDir>n/"), created on first use.
    std::string boardDir(int board);

    // Writes GuestBook.conf as given.
    void writeConfig(const std::string& text);
    // The usual configuration: BASE_DIR /bbs/, the boards directory,
    // EMAIL admin@example.org, Password secret, boards 1 to 3.
    void writeStandardConfig();
    void removeConfig();

    // Board files, relative to the board's directory.
    std::string readBoardFile(int board, const std::string& name);
    void writeBoardFile(int board, const std::string& name, const std::string& bytes);
    bool boardFileExists(int board, const std::string& name);

private:
    std::string root_;
};

std::string readFile(const std::string& path);

// What a run of the operator's tool printed and its exit status.
struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` (the built gesipan unless named) on `site`'s configuration
// with the shell words `args`, `input` on its standard input, behind
// `launcher` (shell words, e.g. strace) when one is given.
ToolResult runTool(const ScratchSite& site, const std::string& args, const std::string& input = "",
                   const std::string& launcher = "", const std::string& program = "");
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
