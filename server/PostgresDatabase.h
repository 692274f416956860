#pragma once
// The PostgreSQL engine: a few connections shared by the server's threads. Any number of
// servers may use one database: the rules live in its constraints and transactions.

#include "server/Database.h"
#include "server/PostgresSession.h"

#include <condition_variable>
#include <mutex>
#include <vector>

class PostgresDatabase : public Database {
public:
    explicit PostgresDatabase(std::string url);

    const char* Engine() const override { return "postgresql"; }
    const PoolCounter& Counter() const override { return SequenceCounter(); }
    void Read(const Body& body) override;
    void Write(const Body& body) override;

private:
    // Runs body in a transaction on a connection of the pool.
    void Transaction(const Body& body, bool write);
    std::unique_ptr<PostgresSession> Take();
    void Give(std::unique_ptr<PostgresSession> session);

    std::string url_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::vector<std::unique_ptr<PostgresSession>> idle_;
    int open_ = 0; // connections made and not dropped, idle or in use
};
