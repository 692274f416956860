#pragma once
// What the line's store asks of a database, whichever engine holds it: statements with bound
// parameters only, rows of text, and the errors that decide an answer's status.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A value bound to a statement's parameter.
using SqlValue = std::variant<std::nullptr_t, std::int64_t, std::string>;

// An optional value as a parameter: NULL when there is none.
template <class T> SqlValue OrNull(const std::optional<T>& value) {
    return value ? SqlValue(*value) : SqlValue(nullptr);
}

// One row of a result: each column as text, none for NULL.
class SqlRow {
public:
    explicit SqlRow(std::vector<std::optional<std::string>> columns)
        : columns_(std::move(columns)) {}
    bool IsNull(std::size_t column) const { return !columns_.at(column); }
    const std::string& Text(std::size_t column) const;
    std::int64_t Int(std::size_t column) const;
    std::optional<std::int64_t> MaybeInt(std::size_t column) const;

private:
    std::vector<std::optional<std::string>> columns_;
};

using SqlRows = std::vector<SqlRow>;

// Why a statement or transaction failed, as far as the caller must tell the cases apart.
enum class SqlFailure {
    Unreachable, // the database cannot be reached, or is busy beyond waiting
    Constraint,  // a unique, check or trigger rule of the schema refused the change
    Retry,       // lost a deadlock or a serialisation conflict to another transaction: run again
    Other,
};

class SqlError : public std::runtime_error {
public:
    SqlError(SqlFailure failure, const std::string& what)
        : std::runtime_error(what), failure_(failure) {}
    SqlFailure Failure() const { return failure_; }

private:
    SqlFailure failure_;
};

// One connection of an engine, used by one thread at a time. Statements are written with `?`
// for each parameter; an engine that numbers its parameters rewrites them.
class SqlSession {
public:
    virtual ~SqlSession() = default;
    virtual SqlRows Run(std::string_view sql, const std::vector<SqlValue>& params = {}) = 0;
    // A statement whose rows nobody reads: an engine may hold it back and send it with the next
    // statement that is run or with the commit, so its failure may come out of either.
    virtual void Send(std::string_view sql, const std::vector<SqlValue>& params = {}) {
        Run(sql, params);
    }
    // Now on the clock that every server sharing the database agrees on, in ms since 1970.
    virtual std::int64_t NowMs() = 0;
    // Appended to a SELECT that picks a row to take: other transactions skip the rows this one
    // holds instead of waiting for them (empty where the engine has one writer at a time).
    virtual const char* SkipLocked() const = 0;
};
