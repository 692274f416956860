#pragma once
// A simulated board served from a thread of the test on a pseudo-terminal; linked into a ports
// folder as a COM name, the program finds it the way it finds a real board. Replies to chosen
// commands can be withheld or spoilt from a given moment, to fail one step of a job.

#include "sim/BoardSession.h"
#include "tests/support/Pty.h"

#include <array>
#include <atomic>
#include <chrono>
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

    // Withholds every reply to requests with this command code, from now on or once `after`
    // more of them have been answered.
    void Mute(std::uint8_t command, std::uint64_t after = 0) {
        mutedFrom_[command].store(session_->Stats().RequestsByCommand[command] + after);
    }

    // Spoils the checksum of every reply to requests with this command code, counted as Mute
    // counts: the request is carried out and its reply lost without a read time-out.
    void Garble(std::uint8_t command, std::uint64_t after = 0) {
        garbledFrom_[command].store(session_->Stats().RequestsByCommand[command] + after);
    }

    // Whether a command has been muted, so that the job will wait out read time-outs.
    bool Muted() const;

    // When the first and the latest request with this command code arrived; the clock's epoch
    // when none has.
    std::chrono::steady_clock::time_point FirstRequestAt(std::uint8_t command) const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(first_[command].load()));
    }
    std::chrono::steady_clock::time_point LastRequestAt(std::uint8_t command) const {
        return std::chrono::steady_clock::time_point(
            std::chrono::steady_clock::duration(last_[command].load()));
    }

private:
    void Serve();

    Pty pty_;
    std::shared_ptr<BoardSession> session_;
    // Requests of a command counted beyond these are not answered, or answered spoilt.
    std::array<std::atomic<std::uint64_t>, 9> mutedFrom_;
    std::array<std::atomic<std::uint64_t>, 9> garbledFrom_;
    std::array<std::atomic<std::chrono::steady_clock::rep>, 9> first_{};
    std::array<std::atomic<std::chrono::steady_clock::rep>, 9> last_{};
    std::atomic<bool> stop_{false};
    std::thread server_;
};
