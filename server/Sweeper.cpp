#include "server/Sweeper.h"

#include "server/Feed.h"
#include "server/Reservations.h"

#include <chrono>
#include <iostream>

namespace {

using namespace std::chrono_literals;

constexpr auto Interval = 1s;
constexpr int PruneEvery = 60; // intervals
constexpr std::int64_t FeedKeptMs = 3600 * 1000;

} // namespace

Sweeper::Sweeper(Database& db) : db_(db), thread_(&Sweeper::Loop, this) {}

Sweeper::~Sweeper() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
}

void Sweeper::Loop() {
    bool failing = false;
    for (int round = 1;; ++round) {
        {
            std::unique_lock lock(mutex_);
            if (stop_.wait_for(lock, Interval, [this] { return stopping_; })) {
                return;
            }
        }
        try {
            SpoilExpired(db_);
            if (round % PruneEvery == 0) {
                db_.Write(
                    [](SqlSession& session) { PruneFeed(session, session.NowMs() - FeedKeptMs); });
            }
            if (failing) {
                std::cerr << "tervix-line: the database answers again" << std::endl;
            }
            failing = false;
        } catch (const SqlError& error) {
            // Said once, not every second while it lasts.
            if (!failing) {
                std::cerr << "tervix-line: " << error.what() << std::endl;
            }
            failing = true;
        }
    }
}
