#include "scratch_site.h"

#include "cgi_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

ScratchSite::ScratchSite() {
    char pattern[] = "/tmp/gesipan-site-XXXXXX";
    char* made = ::mkdtemp(pattern);
    if (!made) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    root_ = made;
    ::mkdir(cgiBin().c_str(), 0755);
    ::mkdir((root_ + "/boards").c_str(), 0755);
}

ScratchSite::~ScratchSite() {
    if (root_.empty() || std::getenv("KEEP_SCRATCH")) return;
    std::error_code error;
    std::filesystem::remove_all(root_, error);
    if (error) ADD_FAILURE() << "cannot remove " << root_ << ": " << error.message();
}

std::string ScratchSite::boardDir(int board) {
    std::string dir = bbsDir() + std::to_string(board) + "/";
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

void ScratchSite::writeConfig(const std::string& text) { writeFile(cgiBin() + "/GuestBook.conf", text); }

void ScratchSite::writeStandardConfig() {
    writeConfig("# test site\n"
                "BASE_DIR /bbs/\n"
                "BBS_DIR " + bbsDir() + "\n"
                "EMAIL admin@example.org\n"
                "Password secret\n"
                "1 title1.gif\n"
                "2 title2.gif\n"
                "3 title3.gif board3@example.org\n");
}

void ScratchSite::removeConfig() { ::unlink((cgiBin() + "/GuestBook.conf").c_str()); }

std::string ScratchSite::readBoardFile(int board, const std::string& name) { return readFile(boardDir(board) + name); }

void ScratchSite::writeBoardFile(int board, const std::string& name, const std::string& bytes) {
    writeFile(boardDir(board) + name, bytes);
}

bool ScratchSite::boardFileExists(int board, const std::string& name) { return fileExists(boardDir(board) + name); }

ToolResult runTool(const ScratchSite& site, const std::string& args, const std::string& input,
                   const std::string& launcher, const std::string& program) {
    const std::string dir = site.root() + "/";
    writeFile(dir + "tool.in", input);
    const std::string tool = program.empty() ? programPath("gesipan") : program;
    std::string command = launcher + " '" + tool + "' --conf '" + site.cgiBin() + "/GuestBook.conf' " + args + " <'" +
                          dir + "tool.in' >'" + dir + "tool.out' 2>'" + dir + "tool.err'";
    int status = std::system(command.c_str());
    ToolResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(dir + "tool.out");
    result.err = readFile(dir + "tool.err");
    return result;
}
