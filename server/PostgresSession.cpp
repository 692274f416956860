#include "server/PostgresSession.h"

#include <pqxx/pqxx>

#include <chrono>

namespace {

// libpqxx's exceptions as the store tells them apart.
SqlError Translated(const std::exception& error) {
    if (dynamic_cast<const pqxx::broken_connection*>(&error) != nullptr ||
        dynamic_cast<const pqxx::in_doubt_error*>(&error) != nullptr) {
        return {SqlFailure::Unreachable, error.what()};
    }
    if (dynamic_cast<const pqxx::deadlock_detected*>(&error) != nullptr ||
        dynamic_cast<const pqxx::serialization_failure*>(&error) != nullptr) {
        return {SqlFailure::Retry, error.what()};
    }
    if (dynamic_cast<const pqxx::integrity_constraint_violation*>(&error) != nullptr ||
        dynamic_cast<const pqxx::plpgsql_raise*>(&error) != nullptr) {
        return {SqlFailure::Constraint, error.what()};
    }
    if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&error)) {
        // Class 08: connection exceptions; 57: the server shutting down or starting up.
        if (sql->sqlstate().starts_with("08") || sql->sqlstate().starts_with("57")) {
            return {SqlFailure::Unreachable, error.what()};
        }
    }
    return {SqlFailure::Other, error.what()};
}

// `?` becomes `$1`, `$2`, ... as PostgreSQL numbers its parameters; no statement here holds a
// `?` in a literal.
std::string Numbered(std::string_view sql) {
    std::string out;
    int next = 1;
    for (char c : sql) {
        if (c == '?') {
            out += '$' + std::to_string(next++);
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

struct PostgresSession::Link {
    explicit Link(const std::string& url) : connection(url) {}
    pqxx::connection connection;
    std::unique_ptr<pqxx::transaction_base> transaction;
};

PostgresSession::PostgresSession(const std::string& url) {
    try {
        link_ = std::make_unique<Link>(url);
    } catch (const std::exception& error) {
        throw SqlError(SqlFailure::Unreachable,
                       std::string("cannot connect to PostgreSQL: ") + error.what());
    }
}

PostgresSession::~PostgresSession() = default;

bool PostgresSession::Usable() const {
    return link_ && link_->connection.is_open();
}

void PostgresSession::Begin(bool write) {
    try {
        if (write) {
            link_->transaction = std::make_unique<pqxx::work>(link_->connection);
        } else {
            link_->transaction = std::make_unique<pqxx::nontransaction>(link_->connection);
        }
    } catch (const std::exception& error) {
        throw Translated(error);
    }
}

void PostgresSession::Commit() {
    try {
        link_->transaction->commit();
        link_->transaction.reset();
    } catch (const std::exception& error) {
        link_->transaction.reset();
        throw Translated(error);
    }
}

void PostgresSession::Rollback() {
    // Aborted by its destructor; a connection that broke meanwhile has nothing to roll back.
    link_->transaction.reset();
}

SqlRows PostgresSession::Run(std::string_view sql, const std::vector<SqlValue>& params) {
    try {
        auto it = prepared_.find(sql);
        if (it == prepared_.end()) {
            const std::string name = "s" + std::to_string(prepared_.size());
            link_->connection.prepare(name, Numbered(sql));
            it = prepared_.emplace(std::string(sql), name).first;
        }
        std::vector<std::string> texts;
        texts.reserve(params.size());
        std::vector<const char*> values;
        for (const SqlValue& param : params) {
            if (const auto* number = std::get_if<std::int64_t>(&param)) {
                texts.push_back(std::to_string(*number));
            } else if (const auto* text = std::get_if<std::string>(&param)) {
                texts.push_back(*text);
            } else {
                texts.emplace_back();
            }
        }
        for (std::size_t i = 0; i < params.size(); ++i) {
            values.push_back(std::holds_alternative<std::nullptr_t>(params[i]) ? nullptr
                                                                               : texts[i].c_str());
        }
        const pqxx::result result = link_->transaction->exec_prepared(
            it->second, pqxx::prepare::make_dynamic_params(values));
        SqlRows rows;
        rows.reserve(result.size());
        for (const auto& row : result) {
            std::vector<std::optional<std::string>> columns;
            columns.reserve(row.size());
            for (const auto& field : row) {
                if (field.is_null()) {
                    columns.emplace_back();
                } else {
                    columns.emplace_back(std::string(field.c_str(), field.size()));
                }
            }
            rows.emplace_back(std::move(columns));
        }
        return rows;
    } catch (const SqlError&) {
        throw;
    } catch (const std::exception& error) {
        throw Translated(error);
    }
}

// The database's clock: servers on several computers share its leases. It is read through this
// computer's clock, set against the database's once a minute, rather than asked for in every
// transaction.
std::int64_t PostgresSession::NowMs() {
    constexpr std::int64_t RemeasureMs = 60000;
    const auto local = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::int64_t before = local();
    if (clockMeasuredMs_ == 0 || before - clockMeasuredMs_ > RemeasureMs) {
        const std::int64_t database =
            Run("SELECT CAST(extract(epoch FROM clock_timestamp()) * 1000 AS bigint)").at(0).Int(0);
        const std::int64_t after = local();
        clockOffsetMs_ = database - (before + after) / 2;
        clockMeasuredMs_ = after;
    }
    return local() + clockOffsetMs_;
}
