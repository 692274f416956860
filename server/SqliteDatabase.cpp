#include "server/SqliteDatabase.h"

#include "server/Schema.h"

namespace {

// A batch larger than this waits for the next commit: one transaction stays short.
constexpr std::size_t MaxBatch = 64;

} // namespace

SqliteDatabase::SqliteDatabase(std::string file)
    : file_(std::move(file)), writer_(std::make_unique<SqliteSession>(file_)) {
    writer_->Run("BEGIN IMMEDIATE");
    try {
        MigrateSqlite(*writer_);
        writer_->Run("COMMIT");
    } catch (...) {
        writer_->Run("ROLLBACK");
        throw;
    }
    thread_ = std::thread(&SqliteDatabase::WriteLoop, this);
}

SqliteDatabase::~SqliteDatabase() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SqliteDatabase::Read(const Body& body) {
    std::unique_ptr<SqliteSession> session;
    {
        std::lock_guard lock(mutex_);
        if (!idleReaders_.empty()) {
            session = std::move(idleReaders_.back());
            idleReaders_.pop_back();
        }
    }
    if (!session) {
        session = std::make_unique<SqliteSession>(file_);
    }
    session->Run("BEGIN");
    try {
        body(*session);
        session->Run("COMMIT");
    } catch (...) {
        session->Run("ROLLBACK");
        throw;
    }
    std::lock_guard lock(mutex_);
    idleReaders_.push_back(std::move(session));
}

void SqliteDatabase::Write(const Body& body) {
    Job job{&body, nullptr};
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    wake_.notify_one();
    finished_.wait(lock, [&job] { return job.done; });
    lock.unlock();
    if (job.error) {
        std::rethrow_exception(job.error);
    }
}

void SqliteDatabase::WriteLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        std::vector<Job*> batch;
        while (!queue_.empty() && batch.size() < MaxBatch) {
            batch.push_back(queue_.front());
            queue_.pop_front();
        }
        lock.unlock();
        RunBatch(batch);
        Committed();
        lock.lock();
        for (Job* job : batch) {
            job->done = true;
        }
        finished_.notify_all();
    }
}

void SqliteDatabase::RunBatch(const std::vector<Job*>& batch) {
    try {
        writer_->Run("BEGIN IMMEDIATE");
        for (Job* job : batch) {
            writer_->Run("SAVEPOINT job");
            try {
                (*job->body)(*writer_);
            } catch (...) {
                job->error = std::current_exception();
                writer_->Run("ROLLBACK TO job");
            }
            writer_->Run("RELEASE job");
        }
        writer_->Run("COMMIT");
    } catch (...) {
        // Nothing of the batch stands: every job that had succeeded fails as the batch did.
        const std::exception_ptr failed = std::current_exception();
        try {
            writer_->Run("ROLLBACK");
        } catch (const SqlError&) {
            // No transaction left to roll back: BEGIN failed, or SQLite ended it itself.
        }
        for (Job* job : batch) {
            if (!job->error) {
                job->error = failed;
            }
        }
    }
}
