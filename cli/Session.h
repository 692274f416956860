#pragma once
// What every command that talks to the board shares: the profile with the command line's
// settings, the port question, the progress display, the connection and its end.

#include "cli/PortAnswer.h"
#include "cli/ProgressDisplay.h"

#include <cstdint>
#include <optional>
#include <string>

struct SessionOptions {
    PortChoice Choice;
    bool Quiet = false;
    std::uint32_t TimeoutMs = 0; // 0 keeps the profile's read time-out
    bool ForParent = false;      // progress as a line per percent, for a parent process
    bool Json = false;           // the board's record on standard output, not the summary
};

struct BoardOutcome;

class Session {
public:
    // The device number read on connecting goes into outcome, when given.
    explicit Session(const SessionOptions& options, BoardOutcome* outcome = nullptr);
    // Closes the port if a command left it open on a failure.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ExitStatus::Usage when the port question could not be asked; checked before anything
    // else, so no port is touched.
    int CheckUsage() const;

    // Finds the port and checks the device; prints why on failure. Returns an exit status.
    int Connect();
    // Connect in three parts, for a job that connects itself: the progress line shown, the port
    // the connection must use (none: the port question decides), and the connection's result
    // judged and shown.
    void BeginConnect();
    std::optional<int> NamedPort() const;
    int Connected(std::int32_t result);
    // Closes the port; prints why on failure. Returns an exit status.
    int Disconnect();
    // How a disconnect's result ended the command.
    static int Disconnected(std::int32_t result);

    ProgressDisplay& Progress() { return progress_; }
    bool Quiet() const { return quiet_; }
    // The closing line of a command that ended well is wanted.
    bool ShowsSummary() const { return !quiet_ && !json_; }

private:
    std::string WrongDeviceReason();

    PortChoice choice_;
    bool quiet_;
    ProgressDisplay progress_;
    bool json_;
    PortAnswer answer_;
    BoardOutcome* outcome_;
};
