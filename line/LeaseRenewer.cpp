#include "line/LeaseRenewer.h"

LeaseRenewer::LeaseRenewer(const LineClient& client, std::int64_t reservation, int leaseSeconds)
    : client_(client), path_("/api/v1/reservations/" + std::to_string(reservation) + "/renew"),
      leaseSeconds_(leaseSeconds), period_(std::chrono::milliseconds(leaseSeconds * 1000 / 3)),
      thread_([this] { Run(); }) {}

LeaseRenewer::~LeaseRenewer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

int LeaseRenewer::Renewed() const {
    std::lock_guard lock(mutex_);
    return renewed_;
}

std::string LeaseRenewer::LastFailure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

void LeaseRenewer::Run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, period_, [this] { return stopping_; })) {
        lock.unlock();
        const LineReply reply =
            client_.Call("POST", path_, nlohmann::json{{"lease_seconds", leaseSeconds_}});
        lock.lock();
        if (reply.Ok()) {
            ++renewed_;
            continue;
        }
        failure_ = reply.Why;
        if (!reply.Away()) {
            return; // ended, or its lease ran out: nothing left to keep
        }
    }
}
