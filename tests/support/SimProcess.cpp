#include "tests/support/SimProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ; // what posix_spawn hands on

namespace {

constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 10000;

int MsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Appends whatever fd delivers; false once it reached its end.
bool Drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        return n < 0 && errno == EAGAIN;
    }
}

} // namespace

std::string SimProcess::Program() {
    if (const char* dir = std::getenv("TERVIX_BIN_DIR"); dir != nullptr && *dir != '\0') {
        return std::string(dir) + "/tervix-sim";
    }
    // Every program of the build lands in one folder, the test programs included.
    std::error_code ignored;
    return (std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path() / "tervix-sim")
        .string();
}

SimProcess::SimProcess(const std::vector<std::string>& options) {
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
    const std::string program = Program();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& option : options) {
        argv.push_back(const_cast<char*>(option.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    // Descriptors the test holds without close-on-exec (a port, say) must not keep living in
    // the board, or it would never see that port close.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
    if (spawned != 0) {
        pid_ = -1;
        return;
    }

    // The first line is the port path.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(StartTimeoutMs);
    std::string text;
    for (;;) {
        const std::size_t end = text.find('\n');
        if (end != std::string::npos) {
            slavePath_ = text.substr(0, end);
            output_ = text.substr(end + 1);
            return;
        }
        pollfd in{out_, POLLIN, 0};
        if (MsLeft(deadline) == 0 || poll(&in, 1, MsLeft(deadline)) <= 0 || !Drain(out_, text)) {
            output_ = text;
            return;
        }
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        Stop(SIGKILL);
    }
    if (out_ >= 0) {
        close(out_);
    }
    if (err_ >= 0) {
        close(err_);
    }
}

bool SimProcess::Running() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

void SimProcess::Collect(Clock::time_point deadline) {
    // The output is read until both pipes close, which also tells that the process has ended.
    while ((out_ >= 0 || err_ >= 0) && MsLeft(deadline) > 0) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, MsLeft(deadline)) <= 0) {
            break;
        }
        if (out_ >= 0 && fds[0].revents != 0 && !Drain(out_, output_)) {
            close(out_);
            out_ = -1;
        }
        if (err_ >= 0 && fds[1].revents != 0 && !Drain(err_, errors_)) {
            close(err_);
            err_ = -1;
        }
    }
}

int SimProcess::Wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Collect(deadline);
    while (Running()) {
        if (MsLeft(deadline) == 0) {
            return -1;
        }
        usleep(10000);
    }
    return status_;
}

int SimProcess::Stop(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
    return Wait(StopTimeoutMs);
}

std::map<std::string, std::string> SimProcess::Stats() const {
    std::map<std::string, std::string> stats;
    std::size_t start = 0;
    while (start < output_.size()) {
        std::size_t end = output_.find('\n', start);
        if (end == std::string::npos) {
            end = output_.size();
        }
        const std::string line = output_.substr(start, end - start);
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            stats[line.substr(0, colon)] = line.substr(colon + 2);
        }
        start = end + 1;
    }
    return stats;
}
