#pragma once
// A simulated board served from a thread of the test on a pseudo-terminal; linked into a ports
// folder as a COM name, the program finds it the way it finds a real board. Replies to chosen
// commands can be withheld from a given moment, to fail one step of a job.

#include "sim/BoardSession.h"
#include "tests/support/Pty.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class PtyBoard {
public:
    PtyBoard();
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    bool Ok() const { return pty_.Ok(); }
    BoardSession& Session() { return *session_; }
    const std::string& DevicePath() const { return pty_.SlavePath(); }

    // Withholds every reply to requests with this command code from now on.
    void Mute(std::uint8_t command) { muted_.fetch_or(1u << command); }

private:
    void Serve();

    Pty pty_;
    std::shared_ptr<BoardSession> session_;
    std::atomic<std::uint32_t> muted_{0};
    std::atomic<bool> stop_{false};
    std::thread server_;
};
