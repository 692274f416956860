#include "server/SqliteSession.h"

#include <sqlite3.h>

#include <chrono>

namespace {

// Long enough for a command run beside the server to finish its own transaction.
constexpr int BusyTimeoutMs = 5000;

// A statement's reset whatever way the row loop is left.
struct Reset {
    sqlite3_stmt* statement;
    ~Reset() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

} // namespace

SqliteSession::SqliteSession(const std::string& file) {
    const int code = sqlite3_open_v2(file.c_str(), &db_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                         SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
                                     nullptr);
    if (code != SQLITE_OK) {
        const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqlError(SqlFailure::Unreachable, "cannot open " + file + ": " + why);
    }
    sqlite3_busy_timeout(db_, BusyTimeoutMs);
    Run("PRAGMA journal_mode = WAL");
    Run("PRAGMA synchronous = FULL");
    Run("PRAGMA foreign_keys = ON");
}

SqliteSession::~SqliteSession() {
    for (auto& [text, statement] : statements_) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(db_);
}

void SqliteSession::Fail(int code, const std::string& doing) const {
    const std::string what = doing + ": " + sqlite3_errmsg(db_);
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
        throw SqlError(SqlFailure::Constraint, what);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_READONLY:
        throw SqlError(SqlFailure::Unreachable, what);
    default:
        throw SqlError(SqlFailure::Other, what);
    }
}

sqlite3_stmt* SqliteSession::Prepared(std::string_view sql) {
    if (auto it = statements_.find(sql); it != statements_.end()) {
        return it->second;
    }
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (code != SQLITE_OK) {
        Fail(code, "cannot prepare " + std::string(sql));
    }
    statements_.emplace(std::string(sql), statement);
    return statement;
}

SqlRows SqliteSession::Run(std::string_view sql, const std::vector<SqlValue>& params) {
    sqlite3_stmt* statement = Prepared(sql);
    Reset reset{statement};
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int index = static_cast<int>(i + 1);
        int code = SQLITE_OK;
        if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
            code = sqlite3_bind_int64(statement, index, *number);
        } else if (const auto* text = std::get_if<std::string>(&params[i])) {
            code = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                                     SQLITE_STATIC);
        } else {
            code = sqlite3_bind_null(statement, index);
        }
        if (code != SQLITE_OK) {
            Fail(code, "cannot bind a parameter of " + std::string(sql));
        }
    }
    SqlRows rows;
    for (;;) {
        const int code = sqlite3_step(statement);
        if (code == SQLITE_DONE) {
            return rows;
        }
        if (code != SQLITE_ROW) {
            Fail(code, std::string(sql));
        }
        const int count = sqlite3_column_count(statement);
        std::vector<std::optional<std::string>> columns;
        columns.reserve(static_cast<std::size_t>(count));
        for (int c = 0; c < count; ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                columns.emplace_back();
            } else {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
                columns.emplace_back(std::string(
                    text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
            }
        }
        rows.emplace_back(std::move(columns));
    }
}

// One file on one computer: its clock is the server's.
std::int64_t SqliteSession::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
