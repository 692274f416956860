#pragma once
// The event stream's source in one server: a thread reads the feed as it grows (woken by this
// server's commits, and four times a second for the other servers' ones) and hands each event
// to every listener. The database numbers the events; one that commits late, after a larger
// number was read, is still handed on, and a number that never commits is given up after a few
// seconds.

#include "server/Database.h"
#include "server/Feed.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

class EventHub {
public:
    class Subscription {
    public:
        // Waits up to timeout for the next event; false when none came or the stream closed.
        bool Next(FeedEvent& event, std::chrono::milliseconds timeout);
        bool Closed();

    private:
        friend class EventHub;
        void Push(FeedEvent event);
        void Close();

        std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<FeedEvent> queue_;
        std::set<std::int64_t> caughtUp_; // handed on from the database when the listener came
        bool closed_ = false;
    };

    explicit EventHub(Database& db);
    ~EventHub();
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    // A listener; with after, the events after that number still in the feed come first (a
    // listener that lost its connection and comes back with Last-Event-ID).
    std::shared_ptr<Subscription> Subscribe(std::optional<std::int64_t> after);
    void Unsubscribe(const std::shared_ptr<Subscription>& subscription);
    // A commit in this server: read the feed now.
    void Wake();
    // Ends every stream, and all that come later.
    void Close();

private:
    void Loop();
    void Poll();
    std::vector<FeedEvent> Since(std::int64_t after);

    Database& db_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
    bool closed_ = false;
    std::vector<std::shared_ptr<Subscription>> subscriptions_;
    // Poll's own: every event up to floor_ was handed on or given up; handed_ holds those above.
    std::int64_t floor_ = 0;
    std::set<std::int64_t> handed_;
    std::optional<std::chrono::steady_clock::time_point> gapSince_;
    std::thread thread_;
};
