#include "server/PostgresDatabase.h"

#include "server/Schema.h"

namespace {

// Connections per server: enough for the stations' requests at once, and several servers stay
// well inside PostgreSQL's default of 100 connections.
constexpr int MaxConnections = 16;
// A transaction that lost a deadlock to another server's is run again, this many times at most.
constexpr int Attempts = 5;

} // namespace

PostgresDatabase::PostgresDatabase(std::string url) : url_(std::move(url)) {
    Transaction([](SqlSession& session) { MigratePostgres(session); }, true);
}

std::unique_ptr<PostgresSession> PostgresDatabase::Take() {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [this] { return !idle_.empty() || open_ < MaxConnections; });
    if (!idle_.empty()) {
        auto session = std::move(idle_.back());
        idle_.pop_back();
        return session;
    }
    ++open_;
    lock.unlock();
    try {
        return std::make_unique<PostgresSession>(url_);
    } catch (...) {
        Give(nullptr);
        throw;
    }
}

// Returns a session to the pool; a broken one (or none) frees its place for a new connection.
void PostgresDatabase::Give(std::unique_ptr<PostgresSession> session) {
    {
        std::lock_guard lock(mutex_);
        if (session && session->Usable()) {
            idle_.push_back(std::move(session));
        } else {
            --open_;
        }
    }
    freed_.notify_one();
}

void PostgresDatabase::Transaction(const Body& body, bool write) {
    for (int attempt = 1;; ++attempt) {
        std::unique_ptr<PostgresSession> session = Take();
        try {
            session->Begin(write);
            body(*session);
            session->Commit();
            Give(std::move(session));
            return;
        } catch (const SqlError& error) {
            session->Rollback();
            Give(std::move(session));
            if (error.Failure() != SqlFailure::Retry || attempt == Attempts) {
                throw;
            }
        } catch (...) {
            session->Rollback();
            Give(std::move(session));
            throw;
        }
    }
}

void PostgresDatabase::Read(const Body& body) {
    Transaction(body, false);
}

void PostgresDatabase::Write(const Body& body) {
    Transaction(body, true);
    Committed();
}
