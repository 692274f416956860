#pragma once
// Progress of the stage under way on standard error, read from the shared progress counters by
// a thread of its own while the operation runs on the caller's thread: a redrawn bar with
// percentage, rate and time left on a terminal, a plain line at every quarter otherwise.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

// How one stage's counters read as work done: done = count - Base and all = total + Extra - Base
// (the erase counts addresses from the application's start to its inclusive end).
struct ProgressStage {
    const char* Name = "";
    const char* Unit = ""; // "B" or "rec" for the rate; empty shows no rate and no time left
    std::int32_t Base = 0;
    std::int32_t Extra = 0;
};

class ProgressDisplay {
public:
    // Percent: a plain line at every percent, for a parent process that shows many boards.
    enum class Mode { Bar, Lines, Percent, Off };

    // Bar when out is a terminal, Lines otherwise, Off when quiet.
    static Mode ModeFor(std::FILE* out, bool quiet);

    explicit ProgressDisplay(Mode mode, std::FILE* out = stderr);
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    void Begin(const ProgressStage& stage);
    // Shows the stage's last state and ends its line.
    void End(bool succeeded);

    // Clears the bar line and holds the display until Resume, so a question can be asked on
    // the same terminal.
    void Suspend();
    void Resume();

private:
    void Run();
    void DrawLocked(bool final, bool complete);

    Mode mode_;
    std::FILE* out_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool active_ = false;
    bool suspended_ = false;
    ProgressStage stage_;
    std::chrono::steady_clock::time_point started_;
    int lastStep_ = -1;
    std::thread thread_;
};
