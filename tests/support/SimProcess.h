#pragma once
// tervix-sim as a separate process for tests: started with options, its port path read from the
// first line of its output, stopped with a signal, and its statistics collected.

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

class SimProcess {
public:
    // Starts tervix-sim from $TERVIX_BIN_DIR (else the folder of the running test program) with
    // the given options and waits up to 10 s for its port path. Ok() tells whether that worked.
    explicit SimProcess(const std::vector<std::string>& options = {});
    // Stops the process if it still runs.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Ok() const { return !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }

    // Sends the signal (SIGTERM by default) and waits for the end; returns the exit status, or
    // -1 when the process did not end normally within 10 s.
    int Stop(int signal = 15);
    // Waits up to timeoutMs for the process to end by itself; the exit status, or -1.
    int Wait(int timeoutMs);
    // Whether the process is still running.
    bool Running();

    // Standard output after the port path, and standard error; complete once the process ended.
    const std::string& Output() const { return output_; }
    const std::string& Errors() const { return errors_; }
    // Output() as `key: value` statistics.
    std::map<std::string, std::string> Stats() const;

    // The tervix-sim program the fixture runs.
    static std::string Program();

private:
    using Clock = std::chrono::steady_clock;
    void Collect(Clock::time_point deadline);

    pid_t pid_ = -1;
    int status_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string slavePath_;
    std::string output_;
    std::string errors_;
};
