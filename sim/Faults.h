#pragma once
// Faults the board injects on request, all deterministic: counted requests pick the faulty
// replies, and noise comes from a seeded generator.

#include "sim/BoardFraming.h"

#include <cstdint>
#include <random>
#include <vector>

struct FaultPlan {
    // Every Nth well-formed request (N, 2N, ...) is affected; 0 turns a fault off.
    std::uint32_t DropEvery = 0;        // carried out, but its reply is lost
    std::uint32_t BadChecksumEvery = 0; // the reply's checksum is off by one
    std::uint32_t CutReplyEvery = 0;    // the reply stops before its end byte
    std::uint32_t ShortReadEvery = 0;   // a read's reply carries one data byte fewer than asked
    std::uint32_t NoiseBytes = 0;       // stray bytes before every reply
    std::uint32_t Seed = 1;             // of the noise
    bool Silent = false; // frames are read and counted as dropped, never carried out or answered
};

struct ReplyFate {
    bool Drop = false;
    bool ShortRead = false; // only a read is affected
    FrameFaults Frame;
};

class FaultInjector {
public:
    explicit FaultInjector(const FaultPlan& plan) : plan_(plan), noise_(plan.Seed) {}

    const FaultPlan& Plan() const { return plan_; }

    // How the reply to the next well-formed request leaves the board.
    ReplyFate NextReply();

    // The noise to put before a reply. It holds stray 0x0F, 0x05 and 0x04 among other bytes but
    // never two 0x0F in a row and never ends in 0x0F, so it cannot pass for the start of a
    // packet: a sound receiver skips it and still gets the reply.
    std::vector<std::uint8_t> Noise();

private:
    FaultPlan plan_;
    std::uint64_t replies_ = 0;
    std::mt19937 noise_; // fixed algorithm: the same seed gives the same noise everywhere
};
