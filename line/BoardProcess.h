#pragma once
// One child tervix-flash per board: started in the board's own folder, its standard output and
// error read together through one pipe, so the parent sees its progress and its result in the
// order they were written. A child never outlives the parent, however the parent ends. One file
// per platform behind this interface.

#include <memory>
#include <string>
#include <vector>

class BoardProcess;
// Returns once one of the children has output (or closed it), or after timeoutMs.
void AwaitBoardOutput(const std::vector<BoardProcess*>& children, int timeoutMs);

class BoardProcess {
public:
    // Starts program with args in folder, standard input from the null device. Started()
    // tells whether that worked.
    BoardProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& folder);
    // Waits for a child still running: a board is never left half written by the parent.
    ~BoardProcess();
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    bool Started() const;
    // Passes a stop on to a child still running (POSIX: the signal; Windows delivers Ctrl-C and
    // Ctrl-Break to every process on the console, so there is nothing to pass on).
    void Interrupt(int signal);
    // Appends what output is there to text without waiting; false once the output is closed.
    bool ReadAvailable(std::string& text);
    // Waits for the child's end: its exit status, or 128 + the signal that ended it.
    int Wait();
    // After Wait: the child did not end by itself but was ended from outside (POSIX: by a signal;
    // Windows: by an exception, whose code is far beyond any exit status).
    bool Killed() const;

    struct Handle;

private:
    friend void AwaitBoardOutput(const std::vector<BoardProcess*>& children, int timeoutMs);

    std::unique_ptr<Handle> handle_;
};

// The path of the running program, to start children of the same build.
std::string OwnProgramPath();
