#include "ban_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "spam/ban_list.h"
#include "store/durable_file.h"
#include "text/hangul.h"
#include "password_file.h"

namespace {

constexpr int kDone = 0;
constexpr int kProblems = 1;
constexpr int kUsage = 2;

// The form in which two lines name the same ban.
std::string sameness(const std::string& line) {
    std::string canonical;
    if (classifyBanEntry(line, &canonical) == BanKind::None) return "";
    for (char& c : canonical) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return canonical;
}

bool listed(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        if (sameness(line) == key) return true;
    }
    return false;
}

// A new list file, made beside and renamed, for a site that has none yet.
bool createList(const std::string& path, const std::string& text, std::string* error) {
    const std::string scratch = path + ".new";
    int fd = openNoFollow(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        *error = "cannot create " + scratch + ": " + std::strerror(errno);
        return false;
    }
    if (writeAll(fd, text.data(), text.size()) < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(scratch.c_str());
        return false;
    }
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int replaced = replaceDurably(fd, scratch.c_str(), path.c_str(), dir.c_str());
    if (replaced > 0) return true;
    // As the password's replacement says it.
    *error = (replaced == 0 ? "made " + path + ", but the disk may not keep it: " : "cannot write " + path + ": ") +
             std::strerror(errno);
    if (replaced < 0) ::unlink(scratch.c_str());
    return false;
}

}  // namespace

std::string withBans(const std::string& list, const std::vector<std::string>& entries, std::vector<std::string>* changed) {
    std::string text = list;
    if (!text.empty() && text.back() != '\n') text += '\n';
    for (const std::string& entry : entries) {
        std::string canonical;
        classifyBanEntry(entry, &canonical);
        if (listed(banListLines(text), sameness(entry))) continue;
        text += canonical + "\n";
        changed->push_back(canonical);
    }
    return text;
}

std::string withoutBans(const std::string& list, const std::vector<std::string>& entries,
                        std::vector<std::string>* changed) {
    std::string text;
    for (const std::string& line : banListLines(list)) {
        std::string key = sameness(line);
        bool dropped = false;
        for (const std::string& entry : entries) {
            if (!key.empty() && key == sameness(entry)) dropped = true;
        }
        if (dropped) {
            changed->push_back(line);
        } else {
            text += line + "\n";
        }
    }
    return text;
}

int changeBanList(const std::string& path, bool adding, const std::vector<std::string>& entries) {
    if (entries.empty()) {
        std::fprintf(stderr, "gesipan: name an address, an ADDRESS/BITS range or a word\n");
        return kUsage;
    }
    for (const std::string& entry : entries) {
        std::string canonical;
        std::string bytes;
        BanKind kind = classifyBanEntry(entry, &canonical);
        if (kind == BanKind::None || entry.find('\n') != std::string::npos) {
            std::fprintf(stderr, "gesipan: \"%s\" is no entry (empty, or a comment)\n", entry.c_str());
            return kUsage;
        }
        if (kind == BanKind::Word && adding && !utf8ToCp949(canonical, &bytes)) {
            std::fprintf(stderr, "gesipan: \"%s\": a word may hold ASCII and Hangul syllables only\n", entry.c_str());
            return kUsage;
        }
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "gesipan: %s is not a plain file; the ban list is as it was\n", path.c_str());
        return kProblems;
    }
    std::string list;
    int read = readWholeFile(path.c_str(), &list, kMaxBanListBytes);
    if (read < 0 && errno == EFBIG) {
        std::fprintf(stderr, "gesipan: %s is longer than 1 MiB, more than a ban list; the ban list is as it was\n",
                     path.c_str());
        return kProblems;
    }
    if (read < 0) {
        std::fprintf(stderr, "gesipan: cannot read %s\n", path.c_str());
        return kProblems;
    }
    std::vector<std::string> changed;
    std::string text = adding ? withBans(list, entries, &changed) : withoutBans(list, entries, &changed);
    std::string error;
    if (!changed.empty() && !(read == 0 ? createList(path, text, &error) : replaceConfig(path, text, &error))) {
        // Only a replacement the disk may not keep has been made.
        bool unchanged = error.compare(0, 6, "cannot") == 0;
        std::fprintf(stderr, "gesipan: %s%s\n", error.c_str(), unchanged ? "; the ban list is as it was" : "");
        return kProblems;
    }
    for (const std::string& entry : changed) std::printf("%s: %s\n", adding ? "banned" : "unbanned", entry.c_str());
    if (changed.empty()) std::printf("%s: nothing to change\n", path.c_str());
    return kDone;
}
