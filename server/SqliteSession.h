#pragma once
// One connection to an SQLite file: write-ahead log, every commit synced to the disk (a number
// handed out must survive a power cut), and a wait when another process holds the file.

#include "server/Sql.h"

#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class SqliteSession : public SqlSession {
public:
    // Opens (creating it) the file; throws SqlError.
    explicit SqliteSession(const std::string& file);
    ~SqliteSession() override;
    SqliteSession(const SqliteSession&) = delete;
    SqliteSession& operator=(const SqliteSession&) = delete;

    SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params = {}) override;
    std::int64_t NowMs() override;
    const char* SkipLocked() const override { return ""; }

private:
    [[noreturn]] void Fail(int code, const std::string& doing) const;
    sqlite3_stmt* Prepared(std::string_view sql);

    sqlite3* db_ = nullptr;
    // Statements prepared once per connection, by their text.
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};
