#include "server/PostgresSession.h"

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <optional>

namespace {

struct ResultFree {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// libpq's message without the line ends it comes with.
std::string Trimmed(const char* message) {
    std::string text = message != nullptr ? message : "";
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// A failed command's error as the store tells them apart, by its SQLSTATE.
SqlError Translated(const PGresult* result) {
    const std::string message = Trimmed(PQresultErrorMessage(result));
    const char* field = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string state = field != nullptr ? field : "";
    // 40P01 deadlock, 40001 serialisation failure: run again.
    if (state == "40P01" || state == "40001") {
        return {SqlFailure::Retry, message};
    }
    // Class 23: integrity constraints; P0001: a rule of the schema's triggers.
    if (state.starts_with("23") || state == "P0001") {
        return {SqlFailure::Constraint, message};
    }
    // Class 08: connection exceptions; 57: the server shutting down or starting up.
    if (state.empty() || state.starts_with("08") || state.starts_with("57")) {
        return {SqlFailure::Unreachable, message};
    }
    return {SqlFailure::Other, message};
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

PostgresSession::PostgresSession(const std::string& url) {
    connection_ = PQconnectdb(url.c_str());
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string message = Trimmed(PQerrorMessage(connection_));
        PQfinish(connection_);
        throw SqlError(SqlFailure::Unreachable, "cannot connect to PostgreSQL: " + message);
    }
    // The database's notices ("already exists, skipping") are not the server's to log.
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
    if (PQenterPipelineMode(connection_) != 1) {
        PQfinish(connection_);
        throw SqlError(SqlFailure::Other, "cannot use PostgreSQL's pipeline mode");
    }
}

PostgresSession::~PostgresSession() {
    PQfinish(connection_);
}

bool PostgresSession::Usable() const {
    return PQstatus(connection_) == CONNECTION_OK;
}

void PostgresSession::Broken(const char* doing) {
    const std::string message = Trimmed(PQerrorMessage(connection_));
    sent_.clear();
    inTransaction_ = false;
    // Dropped: the engine opens another connection in its place.
    PQfinish(connection_);
    connection_ = nullptr;
    throw SqlError(SqlFailure::Unreachable, std::string(doing) + ": " + message);
}

void PostgresSession::Queue(std::string_view sql, const std::vector<SqlValue>& params) {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
        const std::string name = "s" + std::to_string(nextName_++);
        if (PQsendPrepare(connection_, name.c_str(), Numbered(sql).c_str(), 0, nullptr) != 1) {
            Broken("sending to PostgreSQL failed");
        }
        sent_.push_back({name});
        it = prepared_.emplace(std::string(sql), name).first;
    }
    std::vector<std::string> texts;
    texts.reserve(params.size());
    for (const SqlValue& param : params) {
        if (const auto* number = std::get_if<std::int64_t>(&param)) {
            texts.push_back(std::to_string(*number));
        } else if (const auto* text = std::get_if<std::string>(&param)) {
            texts.push_back(*text);
        } else {
            texts.emplace_back();
        }
    }
    std::vector<const char*> values;
    values.reserve(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        values.push_back(std::holds_alternative<std::nullptr_t>(params[i]) ? nullptr
                                                                           : texts[i].c_str());
    }
    if (PQsendQueryPrepared(connection_, it->second.c_str(), static_cast<int>(values.size()),
                            values.data(), nullptr, nullptr, 0) != 1) {
        Broken("sending to PostgreSQL failed");
    }
    sent_.push_back({});
}

SqlRows PostgresSession::Flush() {
    if (PQpipelineSync(connection_) != 1) {
        Broken("sending to PostgreSQL failed");
    }
    std::optional<SqlError> failure;
    SqlRows rows;
    for (std::size_t i = 0; i < sent_.size(); ++i) {
        const Result result(PQgetResult(connection_));
        if (!result) {
            Broken("reading from PostgreSQL failed");
        }
        const ExecStatusType status = PQresultStatus(result.get());
        const bool ran = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
        if (!ran && !sent_[i].prepared.empty()) {
            // Not prepared after all: prepared again when next used.
            std::erase_if(prepared_,
                          [&](const auto& entry) { return entry.second == sent_[i].prepared; });
        }
        if (status == PGRES_FATAL_ERROR && !failure) {
            failure = Translated(result.get());
        }
        if (status == PGRES_TUPLES_OK && i + 1 == sent_.size()) {
            const int count = PQntuples(result.get());
            const int columns = PQnfields(result.get());
            rows.reserve(static_cast<std::size_t>(count));
            for (int row = 0; row < count; ++row) {
                std::vector<std::optional<std::string>> values;
                values.reserve(static_cast<std::size_t>(columns));
                for (int column = 0; column < columns; ++column) {
                    if (PQgetisnull(result.get(), row, column) != 0) {
                        values.emplace_back();
                    } else {
                        values.emplace_back(std::string(
                            PQgetvalue(result.get(), row, column),
                            static_cast<std::size_t>(PQgetlength(result.get(), row, column))));
                    }
                }
                rows.emplace_back(std::move(values));
            }
        }
        // Each command's answers end with none.
        while (const Result more{PQgetResult(connection_)}) {
        }
    }
    sent_.clear();
    const Result sync(PQgetResult(connection_));
    if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) {
        Broken("reading from PostgreSQL failed");
    }
    if (PQstatus(connection_) != CONNECTION_OK) {
        Broken("the connection to PostgreSQL broke");
    }
    if (failure) {
        throw *failure;
    }
    return rows;
}

SqlRows PostgresSession::Run(std::string_view sql, const std::vector<SqlValue>& params) {
    Queue(sql, params);
    return Flush();
}

void PostgresSession::Send(std::string_view sql, const std::vector<SqlValue>& params) {
    Queue(sql, params);
}

void PostgresSession::Begin(bool write) {
    if (write) {
        Queue("BEGIN", {});
        inTransaction_ = true;
    }
}

void PostgresSession::Commit() {
    if (!inTransaction_ && sent_.empty()) {
        return; // a read: each statement was answered as it ran
    }
    if (inTransaction_) {
        Queue("COMMIT", {});
    }
    // A commit that failed leaves the transaction for Rollback to end.
    Flush();
    inTransaction_ = false;
}

void PostgresSession::Rollback() {
    if (!Usable()) {
        return;
    }
    if (inTransaction_) {
        Queue("ROLLBACK", {});
        inTransaction_ = false;
    }
    if (!sent_.empty()) {
        try {
            Flush();
        } catch (const SqlError&) {
            // What failed is what is being rolled back.
        }
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
