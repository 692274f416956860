#pragma once
// tervix-sim as a separate process for tests: started with options, its port path read from the
// first line of its output, stopped with a signal, and its statistics collected.

#include "tests/support/ChildProcess.h"

#include <csignal>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SimProcess : public ChildProcess {
public:
    // Starts tervix-sim with the given options and waits for its port path. Ok() tells whether
    // that worked. A board still running when the object goes is killed.
    explicit SimProcess(const std::vector<std::string>& options = {});
    // A board killed cannot take its port link away; a link left pointing at a pseudo-terminal
    // that a later board reuses would hand that board's port to whoever opens the old name.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ok() const { return !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }

    // Sends the signal (SIGTERM by default) and waits for the end; returns what Wait returns.
    int Stop(int signal = SIGTERM);

    // Standard output after the port path, and standard error; complete once the process ended.
    std::string Output() const;
    const std::string& Errors() const { return Err(); }
    // Output() as `key: value` statistics.
    std::map<std::string, std::string> Stats() const;
    // One statistic, as text or as a number; fails the test when it is missing.
    std::string StatText(const std::string& key) const;
    std::uint64_t Stat(const std::string& key) const;

private:
    std::string link_;
    std::string slavePath_;
};
