#pragma once
// A station's state on the line server (PUT /api/v1/stations/NAME): sent whenever it changes,
// and at least every 20 s so that a page does not take the station for gone. A thread of its own
// sends it, so that no position waits for the server; a state changed again before it was sent
// is sent in its newest form only, and no more often than every Gap (a percent moves on every
// redraw). A server away is tried again at the next change or turn.

#include "line/LineClient.h"
#include "line/Station.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class StationReporter {
public:
    static constexpr std::chrono::seconds Period{20};
    static constexpr std::chrono::milliseconds Gap{250};

    StationReporter(LineClient client, const std::string& station,
                    std::chrono::milliseconds period = Period);
    // Sends the last state not sent yet, then stops.
    ~StationReporter();
    StationReporter(const StationReporter&) = delete;
    StationReporter& operator=(const StationReporter&) = delete;

    // The station's state now: {"project", "firmware", "firmware_hash", "positions": [...]}.
    void Report(nlohmann::json state);
    // How many states the server took, and why the last one it did not take failed.
    int Sent() const;
    std::string LastFailure() const;

private:
    void Run();

    const LineClient client_;
    const std::string path_;
    const std::chrono::milliseconds period_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    nlohmann::json state_;
    bool changed_ = false;
    bool stopping_ = false;
    int sent_ = 0;
    std::string failure_;
    std::thread thread_; // last: started once everything it reads is set
};

// The station's state as the server keeps it: the project, its firmware and the first 12 digits
// of its SHA-256, and each position's port and state (waiting, flashing with its stage and
// percent, pass with the serial number and seconds, fail with the reason).
nlohmann::json StationState(const StationSnapshot& snapshot, const std::string& project,
                            const std::string& firmware, const std::string& sha256);
