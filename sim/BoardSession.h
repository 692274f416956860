#pragma once
// One board as a line sees it: bytes from the host go through the board's frame decoder to the
// chip model, and each request's reply comes back framed, with the requested faults and, when
// paced, not before the modelled time. Safe to use from several threads: a host thread feeding
// bytes while a test looks at the memories.

#include "sim/Board.h"
#include "sim/BoardFraming.h"
#include "sim/BoardStats.h"
#include "sim/Faults.h"
#include "sim/Pacing.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct BoardOutput {
    std::vector<std::uint8_t> Bytes;              // to send, in order
    std::chrono::steady_clock::time_point SendAt; // not before this moment
    bool FrameEnded = false;                      // this byte closed a frame, good or broken
};

class BoardSession {
public:
    explicit BoardSession(const FaultPlan& faults = {}, const PaceModel& pace = {},
                          bool paced = false);

    BoardOutput Receive(std::uint8_t byte);

    // Runs f on the board under the session's lock, for set-up and inspection.
    template <class F> auto WithBoard(F&& f) {
        std::lock_guard<std::mutex> guard(lock_);
        return f(board_);
    }

    BoardStats Stats() const;
    // The statistics as `key: value` lines.
    std::string StatsText() const;

private:
    mutable std::mutex lock_;
    Board board_;
    FrameDecoder decoder_;
    FaultInjector faults_;
    PaceModel pace_;
    bool paced_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point frameStart_;
    std::uint64_t frameBytes_ = 0; // received since the last frame ended
};
