#include "disk_states.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "scratch_site.h"

namespace {

constexpr std::size_t kBlock = 4096;
constexpr std::size_t kSector = 512;

// One traced call: its name, its arguments (strings decoded) and result.
struct Call {
    std::string name;
    std::vector<std::string> args;
    long long result = -1;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// A quoted strace string from `at` (on the opening quote) to its end.
std::string readQuoted(const std::string& line, std::size_t& at) {
    std::string out;
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        if (line[at] != '\\') {
            out.push_back(line[at]);
            continue;
        }
        char c = line[++at];
        if (c == 'x') {
            out.push_back(static_cast<char>(hexDigit(line[at + 1]) * 16 + hexDigit(line[at + 2])));
            at += 2;
        } else {
            out.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == '0' ? '\0' : c);
        }
    }
    ++at;
    if (line.compare(at, 3, "...") == 0) ADD_FAILURE() << "trace cut a string short: raise -s";
    return out;
}

bool parseCall(const std::string& line, Call* call) {
    std::size_t open = line.find('(');
    if (open == std::string::npos || open == 0 || line[0] == '+' || line[0] == '-') return false;
    call->name = line.substr(0, open);
    call->args.clear();
    std::string current;
    int depth = 0;
    std::size_t at = open + 1;
    for (; at < line.size(); ++at) {
        char c = line[at];
        if (c == '"') {
            current += readQuoted(line, at);
            --at;
        } else if ((c == ',' || c == ')') && depth == 0) {
            std::size_t first = current.find_first_not_of(' ');
            call->args.push_back(first == std::string::npos ? "" : current.substr(first));
            current.clear();
            if (c == ')') break;
        } else {
            if (c == '{' || c == '[' || c == '(') ++depth;
            if (c == '}' || c == ']' || c == ')') --depth;
            current.push_back(c);
        }
    }
    std::size_t equals = line.find(" = ", at);
    if (equals == std::string::npos) return false;
    call->result = std::strtoll(line.c_str() + equals + 3, nullptr, 10);
    return true;
}

struct Inode {
    std::string current;
    std::string synced;   // on the disk by fsync or fdatasync
    std::string flushed;  // the same, counting a flush on rename over a file
};

struct NameOp {
    enum Kind { Bind, Unbind } kind;  // a rename is an unbind and a bind in one
    std::string name;
    int inode = -1;
    std::string from;  // Bind by rename: the name it leaves
};

// The file system as the program sees it, and what of it is on the disk.
class DiskModel {
public:
    DiskModel(const std::string& boardDir, const DiskFiles& initial, const std::string& workDir)
        : dir_(boardDir), workDir_(workDir) {
        for (const auto& [name, bytes] : initial) {
            names_[name] = static_cast<int>(inodes_.size());
            inodes_.push_back({bytes, bytes, bytes});
        }
        initialNames_ = names_;
    }

    void apply(const Call& call) {
        const std::string& n = call.name;
        if (call.result < 0) return;
        if (n == "openat") {
            opened(call.args.size() > 1 ? call.args[1] : "", call.args.size() > 2 ? call.args[2] : "", call.result);
        } else if (n == "close") {
            fds_.erase(number(call, 0));
        } else if (n == "write" && number(call, 0) == 1) {
            output_ += call.args[1].substr(0, static_cast<std::size_t>(call.result));
        } else if (n == "write" || n == "pwrite64") {
            written(call);
        } else if (n == "ftruncate") {
            if (Inode* inode = fileOf(number(call, 0))) inode->current.resize(static_cast<std::size_t>(number(call, 1)), '\0');
        } else if (n == "rename" || n == "renameat" || n == "renameat2") {
            bool at = n != "rename";
            renamed(call.args[at ? 1 : 0], call.args[at ? 3 : 1]);
        } else if (n == "unlink" || n == "unlinkat") {
            std::string name;
            if (inBoard(call.args[n == "unlink" ? 0 : 1], &name) && names_.count(name)) unbind(name);
        } else if (n == "link" || n == "linkat") {
            bool at = n == "linkat";
            std::string from;
            std::string to;
            if (inBoard(call.args[at ? 1 : 0], &from) && inBoard(call.args[at ? 3 : 1], &to) && names_.count(from)) {
                bind(to, names_[from], "");
            }
        } else if (n == "fsync" || n == "fdatasync") {
            synced(number(call, 0));
        }
    }

    const std::string& output() const { return output_; }
    std::size_t nameOps() const { return ops_.size(); }
    std::size_t nameOpsSynced() const { return dirSynced_; }

    // The names after the first `prefix` name operations, and their inodes.
    std::map<std::string, int> namesAfter(std::size_t prefix) const {
        std::map<std::string, int> names = initialNames_;
        for (std::size_t i = 0; i < prefix; ++i) {
            const NameOp& op = ops_[i];
            if (op.kind == NameOp::Unbind) {
                names.erase(op.name);
            } else {
                if (!op.from.empty()) names.erase(op.from);
                names[op.name] = op.inode;
            }
        }
        return names;
    }
    const std::vector<Inode>& inodes() const { return inodes_; }

private:
    static long long number(const Call& call, std::size_t i) {
        return i < call.args.size() ? std::strtoll(call.args[i].c_str(), nullptr, 10) : -1;
    }

    // Relative paths are the working directory's.
    std::string resolved(const std::string& path) const {
        if (path.empty() || path[0] == '/') return path;
        return path == "." ? workDir_ : workDir_ + "/" + path;
    }
    bool inBoard(const std::string& given, std::string* name) const {
        const std::string path = resolved(given);
        if (path.compare(0, dir_.size(), dir_) != 0) return false;
        *name = path.substr(dir_.size());
        return !name->empty() && name->find('/') == std::string::npos;
    }
    bool isBoardDir(const std::string& given) const {
        const std::string path = resolved(given);
        return path == dir_ || path + "/" == dir_;
    }
    Inode* fileOf(long long fd) {
        auto found = fds_.find(fd);
        if (found == fds_.end() || found->second.inode < 0) return nullptr;
        return &inodes_[static_cast<std::size_t>(found->second.inode)];
    }

    void opened(const std::string& path, const std::string& flags, long long fd) {
        std::string name;
        if (isBoardDir(path)) {
            fds_[fd] = {-1, 0, true};
            return;
        }
        if (!inBoard(path, &name)) return;
        auto found = names_.find(name);
        if (found == names_.end()) {
            int inode = static_cast<int>(inodes_.size());
            inodes_.push_back({});
            bind(name, inode, "");
            found = names_.find(name);
        }
        Inode& inode = inodes_[static_cast<std::size_t>(found->second)];
        if (flags.find("O_TRUNC") != std::string::npos) inode.current.clear();
        fds_[fd] = {found->second, 0, false};
    }

    void written(const Call& call) {
        auto found = fds_.find(number(call, 0));
        if (found == fds_.end() || found->second.inode < 0) return;
        Inode& inode = inodes_[static_cast<std::size_t>(found->second.inode)];
        std::string bytes = call.args[1].substr(0, static_cast<std::size_t>(call.result));
        std::size_t offset = call.name == "pwrite64" ? static_cast<std::size_t>(number(call, 3)) : found->second.position;
        if (inode.current.size() < offset + bytes.size()) inode.current.resize(offset + bytes.size(), '\0');
        inode.current.replace(offset, bytes.size(), bytes);
        if (call.name == "write") found->second.position = offset + bytes.size();
    }

    void renamed(const std::string& fromPath, const std::string& toPath) {
        std::string from;
        std::string to;
        if (!inBoard(fromPath, &from) || !inBoard(toPath, &to) || !names_.count(from)) return;
        int inode = names_[from];
        // ext4 (auto_da_alloc) writes a file out before it replaces another.
        if (names_.count(to)) inodes_[static_cast<std::size_t>(inode)].flushed = inodes_[static_cast<std::size_t>(inode)].current;
        names_.erase(from);
        bind(to, inode, from);
    }

    void bind(const std::string& name, int inode, const std::string& from) {
        names_[name] = inode;
        ops_.push_back({NameOp::Bind, name, inode, from});
    }
    void unbind(const std::string& name) {
        names_.erase(name);
        ops_.push_back({NameOp::Unbind, name, -1, ""});
    }

    void synced(long long fd) {
        auto found = fds_.find(fd);
        if (found == fds_.end()) return;
        if (found->second.directory) {
            dirSynced_ = ops_.size();
            return;
        }
        if (found->second.inode < 0) return;
        Inode& inode = inodes_[static_cast<std::size_t>(found->second.inode)];
        inode.synced = inode.current;
        inode.flushed = inode.current;
    }

    struct Open {
        int inode;
        std::size_t position;
        bool directory;
    };
    std::string dir_;
    std::string workDir_;
    std::map<std::string, int> names_;
    std::map<std::string, int> initialNames_;
    std::vector<Inode> inodes_;
    std::vector<NameOp> ops_;
    std::size_t dirSynced_ = 0;
    std::map<long long, Open> fds_;
    std::string output_;
};

// How each 4 KiB block of a file came through: 'n' new, 'o' old, or the
// count of leading sectors that are new ('1' .. '7').
using BlockModes = std::string;

std::string mixed(const std::string& older, const std::string& newer, const BlockModes& modes, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t x = 0; x < size; ++x) {
        char mode = modes[x / kBlock];
        bool fresh = mode == 'n' || (mode != 'o' && (x % kBlock) / kSector < static_cast<std::size_t>(mode - '0'));
        const std::string& from = fresh ? newer : older;
        out[x] = x < from.size() ? from[x] : '\0';
    }
    return out;
}

// Every way the unsynced bytes of one file may come through, one
// departure from "all new" at a time, and the two extremes.
std::vector<std::pair<std::string, std::string>> fileVariants(const std::string& older, const std::string& newer) {
    std::vector<std::pair<std::string, std::string>> variants;
    if (older == newer) return {{newer, "whole"}};
    const std::size_t size = std::max(older.size(), newer.size());
    const std::size_t blocks = (size + kBlock - 1) / kBlock;
    const BlockModes allNew(blocks, 'n');
    const BlockModes allOld(blocks, 'o');
    variants.push_back({newer, "new"});
    variants.push_back({older, "old"});
    variants.push_back({mixed(older, newer, allNew, older.size()), "new bytes, old length"});
    variants.push_back({mixed(older, newer, allOld, newer.size()), "old bytes, new length"});
    for (std::size_t b = 0; b < blocks; ++b) {
        std::size_t end = std::min(size, (b + 1) * kBlock);
        bool changed = false;
        for (std::size_t x = b * kBlock; x < end && !changed; ++x) {
            changed = (x < older.size() ? older[x] : '\0') != (x < newer.size() ? newer[x] : '\0');
        }
        if (!changed) continue;
        for (char mode : std::string("o1234567")) {
            if (mode != 'o' && b * kBlock + static_cast<std::size_t>(mode - '0') * kSector >= end) break;
            BlockModes modes = allNew;
            modes[b] = mode;
            variants.push_back({mixed(older, newer, modes, newer.size()),
                                "block " + std::to_string(b) + (mode == 'o' ? " old" : std::string(" cut at sector ") + mode)});
        }
    }
    return variants;
}

std::string keyOf(const DiskFiles& files, bool acknowledged) {
    std::string key(1, acknowledged ? 'a' : '-');
    for (const auto& [name, bytes] : files) key += name + '\0' + std::to_string(bytes.size()) + '\0' + bytes;
    return key;
}

}  // namespace

std::vector<std::string> fileTraceLauncher(const std::string& traceFile) {
    return {"/usr/bin/strace", "-qq", "-xx", "-s", "16777216", "-o", traceFile, "-e",
            "trace=openat,close,write,pwrite64,ftruncate,rename,renameat,renameat2,unlink,unlinkat,link,linkat,"
            "fsync,fdatasync"};
}

std::vector<DiskState> crashStates(const std::string& trace, const std::string& boardDir, const DiskFiles& initial,
                                   const std::string& marker, const std::string& workDir) {
    DiskModel model(boardDir, initial, workDir);
    std::vector<DiskState> states;
    std::set<std::string> seen;
    std::istringstream lines(trace);
    std::string line;
    int callNumber = 0;
    // A cut before the first call, and after each one.
    for (bool more = true; more;) {
        const bool acknowledged = model.output().find(marker) != std::string::npos;
        for (std::size_t prefix = model.nameOpsSynced(); prefix <= model.nameOps(); ++prefix) {
            const std::map<std::string, int> names = model.namesAfter(prefix);
            for (bool flush : {false, true}) {
                // One file at a time departs from "all new"; the rest are new.
                std::vector<std::pair<DiskFiles, std::string>> layouts;
                DiskFiles allNew;
                DiskFiles allOld;
                for (const auto& [name, inode] : names) {
                    const Inode& file = model.inodes()[static_cast<std::size_t>(inode)];
                    allNew[name] = file.current;
                    allOld[name] = flush ? file.flushed : file.synced;
                }
                layouts.push_back({allNew, "all new"});
                layouts.push_back({allOld, "all unsynced bytes lost"});
                for (const auto& [name, inode] : names) {
                    const Inode& file = model.inodes()[static_cast<std::size_t>(inode)];
                    if ((flush ? file.flushed : file.synced) == file.current) continue;
                    for (auto& [bytes, how] : fileVariants(flush ? file.flushed : file.synced, file.current)) {
                        DiskFiles files = allNew;
                        files[name] = bytes;
                        layouts.push_back({files, name + ": " + how});
                    }
                }
                for (auto& [files, how] : layouts) {
                    if (!seen.insert(keyOf(files, acknowledged)).second) continue;
                    states.push_back({files, acknowledged,
                                      "cut after call " + std::to_string(callNumber) + ", " + std::to_string(prefix) +
                                          " names down" + (flush ? ", flush on rename" : "") + ", " + how});
                }
            }
        }
        more = false;
        while (std::getline(lines, line)) {
            Call call;
            if (!parseCall(line, &call)) continue;
            model.apply(call);
            ++callNumber;
            more = true;
            break;
        }
    }
    return states;
}

int syncCallsBeforeOutput(const std::string& trace) {
    std::istringstream lines(trace);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        Call call;
        if (!parseCall(line, &call) || call.result < 0) continue;
        if (call.name == "write" && !call.args.empty() && call.args[0] == "1") return count;
        if (call.name == "fsync" || call.name == "fdatasync") ++count;
    }
    return -1;
}

int syncCalls(const std::string& trace) {
    std::istringstream lines(trace);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        Call call;
        if (parseCall(line, &call) && (call.name == "fsync" || call.name == "fdatasync") && call.result == 0) ++count;
    }
    return count;
}
