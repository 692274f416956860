#include "line/BoardProcess.h"

#include <cerrno>
#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

struct BoardProcess::Handle {
    pid_t Pid = -1;
    int Output = -1;
    int Status = -1;
    bool Killed = false;
};

BoardProcess::BoardProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder)
    : handle_(std::make_unique<Handle>()) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return;
    }
    // Only async-signal-safe calls may follow the fork: the parent runs threads.
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // The parent's end, even by SIGKILL, stops the child as a SIGTERM would: at the next
        // request, its port closed. A parent gone before this took effect is seen at once.
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) {
            _exit(127);
        }
        const int input = open("/dev/null", O_RDONLY);
        if (input < 0 || dup2(input, STDIN_FILENO) < 0 || dup2(pipeFds[1], STDOUT_FILENO) < 0 ||
            dup2(pipeFds[1], STDERR_FILENO) < 0 || chdir(folder.c_str()) != 0) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return;
    }
    fcntl(pipeFds[0], F_SETFL, fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
    handle_->Pid = pid;
    handle_->Output = pipeFds[0];
}

BoardProcess::~BoardProcess() {
    if (handle_->Output >= 0) {
        close(handle_->Output);
    }
    Wait();
}

bool BoardProcess::Started() const {
    return handle_->Pid > 0;
}

void BoardProcess::Interrupt(int signal) {
    if (handle_->Pid > 0) {
        kill(handle_->Pid, signal);
    }
}

bool BoardProcess::ReadAvailable(std::string& text) {
    if (handle_->Output < 0) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(handle_->Output, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            return true;
        }
        close(handle_->Output);
        handle_->Output = -1;
        return false;
    }
}

int BoardProcess::Wait() {
    if (handle_->Pid > 0) {
        int status = 0;
        while (waitpid(handle_->Pid, &status, 0) < 0 && errno == EINTR) {
        }
        handle_->Pid = -1;
        handle_->Killed = WIFSIGNALED(status);
        handle_->Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return handle_->Status;
}

bool BoardProcess::Killed() const {
    return handle_->Killed;
}

void AwaitBoardOutput(const std::vector<BoardProcess*>& children, int timeoutMs) {
    std::vector<pollfd> fds;
    for (BoardProcess* child : children) {
        const int fd = child->handle_->Output;
        if (fd >= 0) {
            fds.push_back({fd, POLLIN, 0});
        }
    }
    poll(fds.data(), fds.size(), timeoutMs);
}

std::string OwnProgramPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}
