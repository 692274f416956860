#pragma once
// Keeps a reservation's lease from running out while its board runs: a thread of its own renews
// it every third of the lease, until stopped. A renewal the server does not answer is tried
// again at the next turn; one it refuses (the reservation ended, or its lease ran out) ends the
// renewing.

#include "line/LineClient.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class LeaseRenewer {
public:
    LeaseRenewer(const LineClient& client, std::int64_t reservation, int leaseSeconds);
    // Stops renewing and waits for the thread.
    ~LeaseRenewer();
    LeaseRenewer(const LeaseRenewer&) = delete;
    LeaseRenewer& operator=(const LeaseRenewer&) = delete;

    // How many renewals the server took, and why the last one that failed did.
    int Renewed() const;
    std::string LastFailure() const;

private:
    void Run();

    const LineClient& client_;
    const std::string path_;
    const int leaseSeconds_;
    const std::chrono::milliseconds period_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    int renewed_ = 0;
    std::string failure_;
    std::thread thread_; // last: started once everything it reads is set
};
