#pragma once
// The server's housekeeping thread: once a second it ends the reservations whose lease ran out
// (as spoiled), once a minute it drops the feed's events older than an hour. Every server on a
// database does it; the database lets each reservation end once.

#include "server/Database.h"

#include <condition_variable>
#include <mutex>
#include <thread>

class Sweeper {
public:
    explicit Sweeper(Database& db);
    ~Sweeper();
    Sweeper(const Sweeper&) = delete;
    Sweeper& operator=(const Sweeper&) = delete;

private:
    void Loop();

    Database& db_;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::thread thread_;
};
