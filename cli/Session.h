#pragma once
// What every command that talks to the board shares: the profile with the command line's
// settings, the port question, the progress display, the connection and its end.

#include "cli/PortAnswer.h"
#include "cli/ProgressDisplay.h"

#include <cstdint>

struct SessionOptions {
    PortChoice Choice;
    bool Quiet = false;
    std::uint32_t TimeoutMs = 0; // 0 keeps the profile's read time-out
};

class Session {
public:
    explicit Session(const SessionOptions& options);
    // Closes the port if a command left it open on a failure.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ExitStatus::Usage when the port question could not be asked; checked before anything
    // else, so no port is touched.
    int CheckUsage() const;

    // Finds the port and checks the device; prints why on failure. Returns an exit status.
    int Connect();
    // Closes the port; prints why on failure. Returns an exit status.
    int Disconnect();

    ProgressDisplay& Progress() { return progress_; }
    bool Quiet() const { return quiet_; }

private:
    std::string WrongDeviceReason() const;

    PortChoice choice_;
    bool quiet_;
    ProgressDisplay progress_;
    PortAnswer answer_;
};
