#pragma once
// The line's database, SQLite or PostgreSQL, as the store uses it: transactions over sessions
// that several threads share, and the schema brought up to date when it is opened.

#include "server/PoolCounter.h"
#include "server/Sql.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

class Database {
public:
    using Body = std::function<void(SqlSession&)>;

    virtual ~Database() = default;

    // "sqlite" or "postgresql".
    virtual const char* Engine() const = 0;
    // How this engine's pools count.
    virtual const PoolCounter& Counter() const = 0;
    // Runs body in a transaction that sees one state of the database.
    virtual void Read(const Body& body) = 0;
    // Runs body in a transaction that is durably committed before this returns; an exception
    // from body undoes body's changes and comes out here. Body may run more than once (a
    // transaction that lost a deadlock is run again), so it only assigns its results.
    virtual void Write(const Body& body) = 0;

    // Called after each commit of a write in this process (the event stream's wake-up); set and
    // cleared while other threads write.
    void OnCommit(std::function<void()> call) {
        std::lock_guard lock(onCommitMutex_);
        onCommit_ = std::move(call);
    }

protected:
    void Committed() {
        std::lock_guard lock(onCommitMutex_);
        if (onCommit_) {
            onCommit_();
        }
    }

private:
    std::mutex onCommitMutex_;
    std::function<void()> onCommit_;
};

// The database named by url ("sqlite:FILE" or "postgresql://USER@HOST[:PORT]/DB", any libpq
// address), its schema created or migrated. Throws SqlError; std::invalid_argument for an
// address of neither form.
std::unique_ptr<Database> OpenDatabase(const std::string& url);
