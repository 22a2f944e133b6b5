#include "cgi_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

std::string programPath(const std::string& program) { return std::string(PROGRAM_DIR) + "/" + program; }

namespace {

std::vector<std::string> environmentOf(const CgiRequest& request) {
    std::vector<std::string> env = {"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST", "PATH=/usr/bin:/bin"};
    if (!request.noQuery) env.push_back("QUERY_STRING=" + request.query);
    if (!request.noContentLength) {
        std::string length = request.contentLength.empty() ? std::to_string(request.body.size()) : request.contentLength;
        env.push_back("CONTENT_LENGTH=" + length);
    }
    // Sanitizer settings reach the program so that its reports fail the test.
    for (const char* name : {"UBSAN_OPTIONS", "TZ"}) {
        if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    // The programs leave decoded texts and the page object to the end of
    // the process by design, so leak reports would only be noise.
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "detect_leaks=0");
    for (const auto& [name, value] : request.env) env.push_back(name + "=" + value);
    return env;
}

// A write past the limit then fails with EFBIG instead of killing the
// program, which is how the programs meet a full disk.
void limitFileSize(long bytes) {
    if (bytes < 0) return;
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(125);
}

[[noreturn]] void execChild(const std::string& program, const std::string& workDir, const std::vector<std::string>& env,
                            const CgiRequest& request, int stdinFd, int stdoutFd) {
    limitFileSize(request.fileSizeLimit);
    ::dup2(stdinFd, STDIN_FILENO);
    ::dup2(stdoutFd, STDOUT_FILENO);
    if (request.mergeStderr) ::dup2(stdoutFd, STDERR_FILENO);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    std::vector<char*> envp;
    for (const auto& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    std::string path = request.programDir.empty() ? programPath(program) : request.programDir + "/" + program;
    std::vector<char*> argv;
    for (const auto& word : request.launcher) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& word : request.args) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

// Feeds the body and collects the response together, so that neither
// side blocks on a full pipe.
std::string exchange(int toChild, int fromChild, const std::string& body) {
    std::string output;
    std::size_t sent = 0;
    if (body.empty()) {
        ::close(toChild);
        toChild = -1;
    }
    char chunk[65536];
    for (;;) {
        pollfd fds[2] = {{fromChild, POLLIN, 0}, {toChild, POLLOUT, 0}};
        int watched = toChild >= 0 ? 2 : 1;
        if (::poll(fds, watched, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t written = (fds[1].revents & POLLOUT) ? ::write(toChild, body.data() + sent, body.size() - sent) : -1;
            if (written > 0) sent += static_cast<std::size_t>(written);
            if (written < 0 || sent == body.size()) {
                ::close(toChild);
                toChild = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t got = ::read(fromChild, chunk, sizeof chunk);
            if (got <= 0) break;
            output.append(chunk, static_cast<std::size_t>(got));
        }
    }
    if (toChild >= 0) ::close(toChild);
    return output;
}

}  // namespace

CgiResult runCgi(const std::string& program, const std::string& workDir, const CgiRequest& request) {
    CgiResult result;
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    std::vector<std::string> env = environmentOf(request);
    ::signal(SIGPIPE, SIG_IGN);
    pid_t child = ::fork();
    if (child == 0) execChild(program, workDir, env, request, input[0], output[1]);
    ::close(input[0]);
    ::close(output[1]);
    result.output = exchange(input[1], output[0], request.body);
    ::close(output[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string pageOf(const CgiResult& result) {
    static const std::string header = "Content-type: text/html\n\n";
    if (result.output.compare(0, header.size(), header) != 0) {
        ADD_FAILURE() << "response lacks the content-type header: " << result.output.substr(0, 80);
        return result.output;
    }
    return result.output.substr(header.size());
}
