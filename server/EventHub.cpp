#include "server/EventHub.h"

#include <iterator>
#include <map>

namespace {

using namespace std::chrono_literals;

// Other servers' events reach this one's listeners within this time.
constexpr auto PollInterval = 250ms;
// This server's commits wake the hub, but a busy line's commits are read together, at most this
// often, rather than one read each.
constexpr auto PollGap = 50ms;
// A number missing below read ones belongs to a transaction not yet committed, or to one rolled
// back; after this long it is given up.
constexpr auto GapPatience = 5s;
constexpr std::int64_t ReadLimit = 1000;
// A listener that takes no events while this many wait is dropped; it may come back.
constexpr std::size_t MaxQueued = 10000;

} // namespace

bool EventHub::Subscription::Next(FeedEvent& event, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return closed_ || !queue_.empty(); }) ||
        queue_.empty()) {
        return false;
    }
    event = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

bool EventHub::Subscription::Closed() {
    std::lock_guard lock(mutex_);
    return closed_ && queue_.empty();
}

void EventHub::Subscription::Push(FeedEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (closed_ || caughtUp_.contains(event.Id)) {
            return;
        }
        if (queue_.size() >= MaxQueued) {
            queue_.clear();
            closed_ = true;
        } else {
            queue_.push_back(std::move(event));
        }
    }
    ready_.notify_one();
}

void EventHub::Subscription::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

EventHub::EventHub(Database& db) : db_(db) {
    db_.Read([this](SqlSession& session) { floor_ = LastFeedId(session); });
    thread_ = std::thread(&EventHub::Loop, this);
}

EventHub::~EventHub() {
    Close();
    thread_.join();
}

std::vector<FeedEvent> EventHub::Since(std::int64_t after) {
    std::vector<FeedEvent> events;
    db_.Read([&](SqlSession& session) {
        events.clear();
        for (std::int64_t from = after;;) {
            std::vector<FeedEvent> part = ReadFeed(session, from, ReadLimit);
            if (part.empty()) {
                break;
            }
            from = part.back().Id;
            std::move(part.begin(), part.end(), std::back_inserter(events));
        }
    });
    return events;
}

std::shared_ptr<EventHub::Subscription> EventHub::Subscribe(std::optional<std::int64_t> after) {
    auto subscription = std::make_shared<Subscription>();
    std::vector<FeedEvent> before;
    if (after) {
        before = Since(*after);
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            subscription->Close();
            return subscription;
        }
        subscriptions_.push_back(subscription);
    }
    if (!after) {
        return subscription;
    }
    // Read again now that live events come: whatever committed meanwhile is in one or the other.
    std::map<std::int64_t, FeedEvent> merged;
    for (FeedEvent& event : before) {
        merged.emplace(event.Id, std::move(event));
    }
    for (FeedEvent& event : Since(*after)) {
        merged.emplace(event.Id, std::move(event));
    }
    std::vector<FeedEvent> caughtUp;
    for (auto& [id, event] : merged) {
        caughtUp.push_back(std::move(event));
    }
    std::lock_guard lock(subscription->mutex_);
    std::deque<FeedEvent> live = std::move(subscription->queue_);
    for (const FeedEvent& event : caughtUp) {
        subscription->caughtUp_.insert(event.Id);
    }
    subscription->queue_.assign(caughtUp.begin(), caughtUp.end());
    for (FeedEvent& event : live) {
        if (!subscription->caughtUp_.contains(event.Id)) {
            subscription->queue_.push_back(std::move(event));
        }
    }
    return subscription;
}

void EventHub::Unsubscribe(const std::shared_ptr<Subscription>& subscription) {
    std::lock_guard lock(mutex_);
    std::erase(subscriptions_, subscription);
}

void EventHub::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_one();
}

void EventHub::Close() {
    std::vector<std::shared_ptr<Subscription>> closing;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        closing.swap(subscriptions_);
    }
    wake_.notify_one();
    for (const auto& subscription : closing) {
        subscription->Close();
    }
}

void EventHub::Loop() {
    std::unique_lock lock(mutex_);
    while (!closed_) {
        wake_.wait_for(lock, PollInterval, [this] { return closed_ || woken_; });
        woken_ = false;
        if (closed_) {
            return;
        }
        lock.unlock();
        try {
            Poll();
        } catch (const SqlError&) {
            // The database is away: the next poll tries again, and requests say 503 meanwhile.
        }
        lock.lock();
        wake_.wait_for(lock, PollGap, [this] { return closed_; });
    }
}

void EventHub::Poll() {
    std::vector<std::shared_ptr<Subscription>> listeners;
    {
        std::lock_guard lock(mutex_);
        listeners = subscriptions_;
    }
    if (listeners.empty()) {
        // No one listens: only where the feed stands is worth reading.
        db_.Read([this](SqlSession& session) { floor_ = LastFeedId(session); });
        handed_.clear();
        gapSince_.reset();
        return;
    }
    std::vector<FeedEvent> events;
    db_.Read([&](SqlSession& session) { events = ReadFeed(session, floor_, ReadLimit); });
    for (FeedEvent& event : events) {
        if (handed_.insert(event.Id).second) {
            for (const auto& listener : listeners) {
                listener->Push(event);
            }
        }
    }
    while (handed_.contains(floor_ + 1)) {
        handed_.erase(++floor_);
    }
    if (handed_.empty()) {
        gapSince_.reset();
        return;
    }
    // Numbers missing below the first one handed on.
    const auto now = std::chrono::steady_clock::now();
    if (!gapSince_) {
        gapSince_ = now;
    } else if (now - *gapSince_ >= GapPatience) {
        floor_ = *handed_.begin() - 1;
        while (handed_.contains(floor_ + 1)) {
            handed_.erase(++floor_);
        }
        gapSince_.reset();
    }
}
