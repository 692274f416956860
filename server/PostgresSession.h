#pragma once
// One connection to a PostgreSQL database through libpqxx, with its statements prepared once
// and run inside the transaction the engine opens.

#include "server/Sql.h"

#include <map>
#include <memory>
#include <string>

class PostgresSession : public SqlSession {
public:
    // Connects with a libpq address (postgresql://USER@HOST:PORT/DB); throws SqlError.
    explicit PostgresSession(const std::string& url);
    ~PostgresSession() override;
    PostgresSession(const PostgresSession&) = delete;
    PostgresSession& operator=(const PostgresSession&) = delete;

    SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params = {}) override;
    std::int64_t NowMs() override;
    const char* SkipLocked() const override { return " FOR UPDATE SKIP LOCKED"; }

    // A write runs in one transaction; a read's statements each on their own (in PostgreSQL's
    // default isolation each statement sees its own snapshot anyway), saving two round trips.
    void Begin(bool write);
    void Commit();
    void Rollback();
    // False once the connection broke: the engine drops it.
    bool Usable() const;

private:
    // libpqxx's connection and the transaction open on it.
    struct Link;
    std::unique_ptr<Link> link_;
    // The names given to the statements prepared on this connection, by their text.
    std::map<std::string, std::string, std::less<>> prepared_;
    // The database's clock less this computer's, and when (on this computer's) it was measured.
    std::int64_t clockOffsetMs_ = 0;
    std::int64_t clockMeasuredMs_ = 0;
};
