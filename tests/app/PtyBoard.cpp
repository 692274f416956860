#include "tests/app/PtyBoard.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include <poll.h>
#include <unistd.h>

PtyBoard::PtyBoard() : session_(std::make_shared<BoardSession>()) {
    for (auto* fromArray : {&mutedFrom_, &garbledFrom_}) {
        for (auto& from : *fromArray) {
            from.store(std::numeric_limits<std::uint64_t>::max());
        }
    }
    if (pty_.Ok()) {
        server_ = std::thread([this] { Serve(); });
    }
}

bool PtyBoard::Muted() const {
    return std::any_of(mutedFrom_.begin(), mutedFrom_.end(), [](const auto& from) {
        return from.load() != std::numeric_limits<std::uint64_t>::max();
    });
}

PtyBoard::~PtyBoard() {
    stop_ = true;
    if (server_.joinable()) {
        server_.join();
    }
}

void PtyBoard::Serve() {
    BoardStats before = session_->Stats();
    std::array<std::uint8_t, 512> buffer{};
    while (!stop_) {
        pollfd entry{pty_.Master(), POLLIN, 0};
        if (poll(&entry, 1, 20) <= 0 || (entry.revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t got = read(pty_.Master(), buffer.data(), buffer.size());
        if (got <= 0) {
            continue;
        }
        for (ssize_t i = 0; i < got; ++i) {
            BoardOutput out = session_->Receive(buffer[static_cast<std::size_t>(i)]);
            if (!out.FrameEnded) {
                continue;
            }
            // The command of the frame just taken is the one whose count went up.
            const BoardStats after = session_->Stats();
            bool muted = false;
            bool garbled = false;
            for (std::uint8_t command = 1; command < 9; ++command) {
                if (after.RequestsByCommand[command] == before.RequestsByCommand[command]) {
                    continue;
                }
                const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
                std::chrono::steady_clock::rep none = 0;
                first_[command].compare_exchange_strong(none, now);
                last_[command].store(now);
                muted = muted || after.RequestsByCommand[command] > mutedFrom_[command].load();
                garbled =
                    garbled || after.RequestsByCommand[command] > garbledFrom_[command].load();
            }
            before = after;
            if (garbled && !out.Bytes.empty()) {
                // A data byte that is neither framing nor escape, just before the end byte,
                // leaves the sum short of zero.
                out.Bytes.insert(out.Bytes.end() - 1, 0x55);
            }
            if (!muted && !out.Bytes.empty()) {
                pty_.Send(out.Bytes);
            }
        }
    }
}
