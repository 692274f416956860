#pragma once
// The SQLite engine: one file, read by a few connections at once (write-ahead log) and written
// by one thread that commits the writes waiting for it together, so that one sync of the disk
// serves many stations at once.

#include "server/Database.h"
#include "server/SqliteSession.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(std::string file);
    ~SqliteDatabase() override;

    const char* Engine() const override { return "sqlite"; }
    const PoolCounter& Counter() const override { return RowCounter(); }
    void Read(const Body& body) override;
    void Write(const Body& body) override;

private:
    struct Job {
        const Body* body;
        std::exception_ptr error;
        bool done = false;
    };

    void WriteLoop();
    // Runs a batch of jobs in one transaction, each in a savepoint of its own.
    void RunBatch(const std::vector<Job*>& batch);

    std::string file_;
    std::unique_ptr<SqliteSession> writer_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::unique_ptr<SqliteSession>> idleReaders_;
    std::thread thread_;
};
