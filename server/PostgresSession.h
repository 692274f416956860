#pragma once
// One connection to a PostgreSQL database through libpq in pipeline mode: statements are
// prepared once, and those whose results nobody reads wait to go with the next one that is
// read, so that a transaction costs a few round trips instead of one per statement.

#include "server/Sql.h"

#include <map>
#include <string>
#include <vector>

struct pg_conn;

class PostgresSession : public SqlSession {
public:
    // Connects with a libpq address (postgresql://USER@HOST:PORT/DB); throws SqlError.
    explicit PostgresSession(const std::string& url);
    ~PostgresSession() override;
    PostgresSession(const PostgresSession&) = delete;
    PostgresSession& operator=(const PostgresSession&) = delete;

    SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params = {}) override;
    void Send(std::string_view sql, const std::vector<SqlValue>& params = {}) override;
    std::int64_t NowMs() override;
    const char* SkipLocked() const override { return " FOR UPDATE SKIP LOCKED"; }

    // A write runs in one transaction; a read's statements each on their own (in PostgreSQL's
    // default isolation each statement sees its own snapshot anyway).
    void Begin(bool write);
    void Commit();
    void Rollback();
    // False once the connection broke: the engine drops it.
    bool Usable() const;

private:
    // A command sent and not yet answered; a preparation names its statement.
    struct Sent {
        std::string prepared;
    };

    void Queue(std::string_view sql, const std::vector<SqlValue>& params);
    // Ends the pipeline with a sync point and reads every answer; returns the last command's
    // rows. Throws the first failure once every answer is read.
    SqlRows Flush();
    [[noreturn]] void Broken(const char* doing);

    pg_conn* connection_ = nullptr;
    std::vector<Sent> sent_;
    bool inTransaction_ = false;
    // The names given to the statements prepared on this connection, by their text.
    std::map<std::string, std::string, std::less<>> prepared_;
    int nextName_ = 0;
    // The database's clock less this computer's, and when (on this computer's) it was measured.
    std::int64_t clockOffsetMs_ = 0;
    std::int64_t clockMeasuredMs_ = 0;
};
