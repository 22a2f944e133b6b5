#include "password_file.h"

#include <cerrno>
#include <crypt.h>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "store/durable_file.h"

namespace {

bool isPasswordLine(const std::string& line) {
    std::size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line.compare(at, 8, "Password") != 0) return false;
    at += 8;
    return at == line.size() || line[at] == ' ' || line[at] == '\t' || line[at] == '\r';
}

bool readLine(std::FILE* in, std::string* line) {
    line->clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return c != EOF || !line->empty();
}

// The directory holding `path`, for syncing the rename in it.
std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string hashPassword(const std::string& password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // A null entropy source: libcrypt takes its own from the system.
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) return "";
    auto data = std::make_unique<crypt_data>();
    const char* hashed = crypt_rn(password.c_str(), setting, data.get(), sizeof *data);
    if (!hashed || hashed[0] == '*') return "";
    return hashed;
}

std::string withPassword(const std::string& conf, const std::string& value) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < conf.size();) {
        std::size_t end = conf.find('\n', at);
        if (end == std::string::npos) end = conf.size() - 1;
        lines.push_back(conf.substr(at, end - at + 1));
        at = end + 1;
    }
    std::size_t last = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (isPasswordLine(lines[i])) last = i;
    }
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == last) {
            bool crlf = lines[i].size() >= 2 && lines[i].compare(lines[i].size() - 2, 2, "\r\n") == 0;
            bool newline = !lines[i].empty() && lines[i].back() == '\n';
            out += "Password " + value + (crlf ? "\r\n" : newline ? "\n" : "");
        } else if (!isPasswordLine(lines[i])) {
            out += lines[i];
        }
    }
    if (last == lines.size()) {
        if (!out.empty() && out.back() != '\n') out += "\n";
        out += "Password " + value + "\n";
    }
    return out;
}

bool replaceConfig(const std::string& path, const std::string& text, std::string* error) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = path + " is not a plain file";
        return false;
    }
    const std::string scratch = path + ".new";
    int fd = openNoFollow(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        *error = "cannot create " + scratch + ": " + std::strerror(errno);
        return false;
    }
    bool done = writeAll(fd, text.data(), text.size()) > 0;
    // Owner first: a change of owner may clear the set-id bits of the mode.
    if (done && ::fchown(fd, info.st_uid, info.st_gid) != 0 && (info.st_uid != ::geteuid() || errno != EPERM)) {
        done = false;
    }
    done = done && ::fchmod(fd, info.st_mode & 07777) == 0;
    if (!done) {
        *error = "cannot replace " + path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(scratch.c_str());
        return false;
    }
    int replaced = replaceDurably(fd, scratch.c_str(), path.c_str(), directoryOf(path).c_str());
    if (replaced > 0) return true;
    *error = (replaced == 0 ? "replaced " + path + ", but the disk may not keep it: "
                            : "cannot replace " + path + ": ") +
             std::strerror(errno);
    if (replaced < 0) ::unlink(scratch.c_str());
    return false;
}

// Characters as a browser's maxlength counts them: UTF-8 continuation
// bytes do not start one.
std::size_t typedLength(const std::string& text) {
    std::size_t characters = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++characters;
    }
    return characters;
}

bool readNewPassword(std::FILE* in, std::FILE* prompt, std::string* password, std::string* error) {
    const int fd = fileno(in);
    const bool terminal = ::isatty(fd) != 0;
    struct termios saved;
    if (terminal) {
        if (::tcgetattr(fd, &saved) != 0) {
            *error = "cannot read the terminal";
            return false;
        }
        struct termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string first;
    std::string second;
    if (terminal) std::fprintf(prompt, "New password: ");
    bool read = readLine(in, &first);
    if (terminal) std::fprintf(prompt, "\nAgain: ");
    read = read && readLine(in, &second);
    if (terminal) {
        std::fprintf(prompt, "\n");
        ::tcsetattr(fd, TCSAFLUSH, &saved);
    }
    if (!read) {
        *error = "the password must be given twice";
    } else if (first != second) {
        *error = "the two passwords differ";
    } else if (first.empty()) {
        *error = "an empty password would close editing and erasing";
    } else if (typedLength(first) > kFormPasswordLength) {
        *error = "the forms take at most 10 characters of a password, so a longer one could never be typed";
    } else {
        *password = first;
        return true;
    }
    return false;
}
