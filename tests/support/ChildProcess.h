#pragma once
// A program of the build run as a child process, the way a script runs it: standard input from
// /dev/null (no terminal) unless given, both outputs captured, its own working folder and
// environment, and none of the test's other descriptors.

#include <string>
#include <vector>

#include <sys/types.h>

class ChildProcess {
public:
    // Starts program (a file in the build's bin folder, or an absolute path) with args in folder,
    // with extra environment entries "NAME=value" on top of the test's own, and standard input from
    // input (a terminal, for instance) instead of /dev/null. With ownGroup the child leads a
    // process group of its own, which SignalGroup reaches as a terminal's Ctrl-C would.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& folder, const std::vector<std::string>& env = {},
                 const std::string& input = "/dev/null", bool ownGroup = false);
    // Kills the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Collects output until text has appeared on standard output (or error) or timeoutMs has
    // passed; true when it appeared.
    bool AwaitOutput(const std::string& text, int timeoutMs);
    bool AwaitError(const std::string& text, int timeoutMs);

    void Signal(int signal) const;
    void SignalGroup(int signal) const;

    // Collects output until the child ends; its exit status, 128 + the signal that ended it, or
    // -1 when it did not end within timeoutMs.
    int Wait(int timeoutMs);
    bool Running() { return Started() && Wait(0) < 0; }

    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

private:
    // Reads what is there within timeoutMs; false once both outputs are closed.
    bool Pump(int timeoutMs);
    bool Await(const std::string& collected, const std::string& text, int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int status_ = -1;
    std::string out_;
    std::string err_;
};

// The processes whose parent is pid now.
std::vector<pid_t> ChildrenOf(pid_t pid);
// Whether pid has ended: no such process, or one that only waits to be reaped.
bool Ended(pid_t pid);

// The program in the build's bin folder: TERVIX_BIN_DIR, else the test program's folder. An
// absolute path (a system tool) stands as it is.
std::string BinPath(const std::string& program);

// Generous: a loaded two-core machine runs several test programs at once.
inline constexpr int ProcessTimeoutMs = 60000;
