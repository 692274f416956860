#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace

std::string BinPath(const std::string& program) {
    if (program.starts_with('/')) {
        return program;
    }
    if (const char* bin = std::getenv("TERVIX_BIN_DIR"); bin != nullptr && *bin != '\0') {
        return std::string(bin) + "/" + program;
    }
    // Every program of the build lands in the test program's own folder.
    std::error_code ec;
    return (std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / program).string();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder, const std::vector<std::string>& env,
                           const std::string& input, bool ownGroup) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    // Everything the child needs is prepared before the fork: only async-signal-safe calls
    // may follow it in a threaded test program.
    const std::string path = program.starts_with('/') ? program : BinPath(program);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // getenv takes the first entry of a name, so an inherited one must not shadow an extra.
    const auto overridden = [&env](const char* entry) {
        for (const std::string& e : env) {
            const std::size_t name = e.find('=') + 1;
            if (std::strncmp(entry, e.c_str(), name) == 0) {
                return true;
            }
        }
        return false;
    };
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!overridden(*e)) {
            envp.push_back(*e);
        }
    }
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        if (ownGroup && setpgid(0, 0) != 0) {
            _exit(127);
        }
        const int in = open(input.c_str(), O_RDONLY | O_NOCTTY);
        // Descriptors the test holds without close-on-exec (a port, say) must not live on in
        // the child, or the test would never see that port close.
        if (in < 0 || dup2(in, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0 ||
            close_range(3, ~0u, 0) != 0 || chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (pid_ < 0) {
        CloseFd(outFd_);
        CloseFd(errFd_);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    CloseFd(outFd_);
    CloseFd(errFd_);
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && status_ < 0) {
        kill(pid_, signal);
    }
}

void ChildProcess::SignalGroup(int signal) const {
    if (pid_ > 0 && status_ < 0) {
        kill(-pid_, signal);
    }
}

std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        // "pid (name) state ppid ...": the name may hold blanks, so read from its closing ')'.
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        char state = 0;
        long parent = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 &&
            parent == pid) {
            children.push_back(static_cast<pid_t>(std::stol(line)));
        }
    }
    return children;
}

bool Ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

bool ChildProcess::Pump(int timeoutMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (outFd_ < 0 && errFd_ < 0) {
        return false;
    }
    const int ready = poll(fds, 2, timeoutMs);
    if (ready < 0 && errno != EINTR) {
        return false;
    }
    int* fdOf[2] = {&outFd_, &errFd_};
    std::string* textOf[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = read(*fdOf[i], buffer, sizeof buffer);
        if (n > 0) {
            textOf[i]->append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            CloseFd(*fdOf[i]);
        }
    }
    return true;
}

bool ChildProcess::Await(const std::string& collected, const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (collected.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || !Pump(MsLeft(deadline))) {
            return collected.find(text) != std::string::npos;
        }
    }
    return true;
}

bool ChildProcess::AwaitOutput(const std::string& text, int timeoutMs) {
    return Await(out_, text, timeoutMs);
}

bool ChildProcess::AwaitError(const std::string& text, int timeoutMs) {
    return Await(err_, text, timeoutMs);
}

int ChildProcess::Wait(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    if (status_ >= 0) {
        return status_;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline && Pump(MsLeft(deadline))) {
    }
    int raw = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &raw, WNOHANG)) == 0 && Clock::now() < deadline) {
        poll(nullptr, 0, 10);
    }
    if (done != pid_) {
        return -1;
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
}
