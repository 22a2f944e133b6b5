#include "responder_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "scratch_site.h"

std::string responderPath() { return std::string(PROGRAM_DIR) + "/gesipan-fcgi"; }

bool hasFaultReport(const std::string& errors) {
    for (const char* sign : {"ERROR: ", "runtime error", "worker"}) {
        if (errors.find(sign) != std::string::npos) return true;
    }
    return false;
}

namespace {

int listeningSocket(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        ADD_FAILURE() << "cannot listen on " << path;
        return -1;
    }
    return fd;
}

}  // namespace

ResponderProcess::ResponderProcess(const std::string& cgiBin, int workers,
                                   const std::map<std::string, std::string>& env, bool socketOnStdin,
                                   const std::vector<std::string>& options) {
    char pattern[] = "/tmp/gesipan-fcgi-XXXXXX";
    if (!::mkdtemp(pattern)) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    dir_ = pattern;
    socket_ = dir_ + "/socket";
    errorFile_ = dir_ + "/errors";
    std::vector<std::string> environment = {"PATH=/usr/bin:/bin"};
    for (const char* name : {"UBSAN_OPTIONS", "TZ"}) {
        if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    }
    // Unlike a CGI run, a worker that leaks loses memory for good: leaks count.
    const char* asan = std::getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "detect_leaks=1");
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    std::string program = responderPath();
    std::string workerCount = std::to_string(workers);
    std::vector<std::string> args = {program, "--workers", workerCount, "--max-workers", workerCount};
    args.insert(args.end(), options.begin(), options.end());
    int handedOver = -1;
    if (socketOnStdin) {
        handedOver = listeningSocket(socket_);
    } else {
        args.insert(args.end(), {"--socket", socket_});
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        int errors = ::open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int input = socketOnStdin ? handedOver : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (errors < 0 || input < 0 || ::chdir(cgiBin.c_str()) != 0) ::_exit(126);
        ::dup2(input, STDIN_FILENO);
        ::dup2(errors, STDOUT_FILENO);
        ::dup2(errors, STDERR_FILENO);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (handedOver >= 0) ::close(handedOver);
    // Up when the socket exists and every worker is there.
    for (int tries = 0; tries < 500; ++tries) {
        if (fileExists(socket_) && static_cast<int>(this->workers().size()) == workers) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the responder did not start: " << errors();
}

ResponderProcess::~ResponderProcess() {
    if (pid_ > 0) stop();
    ::unlink(errorFile_.c_str());
    ::unlink(socket_.c_str());
    if (!dir_.empty()) ::rmdir(dir_.c_str());
}

FcgiResult ResponderProcess::request(const std::map<std::string, std::string>& params, const std::string& body) const {
    return runFcgi(socket_, params, body);
}

std::vector<pid_t> ResponderProcess::workers() const {
    std::vector<pid_t> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (dirent* entry = ::readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        // "pid (comm) state ppid ..."; comm may hold blanks, so from the last ')'.
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid_ && state != 'Z') {
            found.push_back(pid);
        }
    }
    ::closedir(proc);
    return found;
}

int ResponderProcess::stop(int withinSeconds) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    bool late = false;
    if (withinSeconds > 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(withinSeconds);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                late = true;
                ::kill(pid_, SIGKILL);
                for (pid_t worker : workers()) ::kill(worker, SIGKILL);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!late) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (late) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ResponderProcess::errors() const { return readFile(errorFile_); }
