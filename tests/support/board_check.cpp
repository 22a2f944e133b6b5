#include "board_check.h"

#include <dirent.h>
#include <set>
#include <sys/stat.h>

#include "board_files.h"
#include "scratch_site.h"

namespace {

constexpr std::size_t kHeader = 125;
constexpr std::size_t kRecord = 410;

// Only records a test wrote through the programs carry the clock's time;
// the prepared ones ("Writer n") must keep every byte.
std::string blankDates(std::string index) {
    for (std::size_t at = kHeader; at + kRecord <= index.size(); at += kRecord) {
        if (index.compare(at + 5, 7, "Writer ") != 0) index.replace(at + 25, 40, 40, '\0');
    }
    return index;
}

std::string entryBytes(const std::string& path, const std::string& name) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return "<gone>";
    if (S_ISLNK(info.st_mode)) return "<link>";
    if (S_ISDIR(info.st_mode)) return "<directory>";
    if (!S_ISREG(info.st_mode)) return "<other>";
    std::string bytes = readFile(path);
    return name == "guestbook.dat" ? blankDates(bytes) : bytes;
}

}  // namespace

BoardSnapshot snapshotBoard(const std::string& boardDir) {
    BoardSnapshot snapshot;
    DIR* dir = ::opendir(boardDir.c_str());
    if (!dir) return snapshot;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "guestbook.lock") continue;
        snapshot[name] = entryBytes(boardDir + name, name);
    }
    ::closedir(dir);
    return snapshot;
}

std::string snapshotDifference(const BoardSnapshot& a, const BoardSnapshot& b) {
    for (const auto& [name, bytes] : a) {
        auto other = b.find(name);
        if (other == b.end()) return name + " only in the first";
        if (other->second != bytes) return name + " differs";
    }
    for (const auto& entry : b) {
        if (!a.count(entry.first)) return entry.first + " only in the second";
    }
    return "";
}

std::string boardProblems(const std::string& boardDir) {
    BoardSnapshot files = snapshotBoard(boardDir);
    std::set<std::string> bodies;
    auto index = files.find("guestbook.dat");
    if (index != files.end()) {
        const std::string& bytes = index->second;
        if (bytes.size() < kHeader) return "index shorter than its header";
        int count = std::stoi("0" + fieldAt(bytes, 10, 10));
        if (bytes.size() != kHeader + count * kRecord) return "index length disagrees with its count";
        for (int n = 1; n <= count; ++n) {
            std::size_t at = kHeader + (n - 1) * kRecord;
            if (fieldAt(bytes, at, 5) != std::to_string(n)) return "record " + std::to_string(n) + " misnumbered";
            std::string body = fieldAt(bytes, at + 310, 100);
            if (!files.count(body)) return "record " + std::to_string(n) + " lacks its body file " + body;
            bodies.insert(body);
        }
    }
    for (const auto& entry : files) {
        const std::string& name = entry.first;
        if (name == "guestbook.dat" || bodies.count(name)) continue;
        return "left lying: " + name;
    }
    return "";
}
