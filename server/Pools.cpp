#include "server/Pools.h"

#include "server/Refusal.h"

#include <algorithm>
#include <limits>
#include <set>

namespace {

constexpr std::int64_t Largest = std::numeric_limits<std::int64_t>::max();

void CheckName(const std::string& name) {
    if (!IsName(name)) {
        throw Refusal(HttpStatus::BadRequest,
                      "a pool's name is 1 to 64 letters, digits, '.', '_' or '-': " + name);
    }
}

// The pool's row, inserted; a name taken is the database's unique constraint.
std::int64_t InsertPool(SqlSession& session, const PoolCounter& counter, const std::string& name,
                        const char* kind, std::int64_t next, std::int64_t step, std::int64_t last) {
    if (!session.Run("SELECT 1 FROM pools WHERE name = ?", {name}).empty()) {
        throw Refusal(HttpStatus::Conflict, "a pool named " + name + " exists already");
    }
    const std::int64_t id =
        session
            .Run("INSERT INTO pools (name, kind, next_seq, step, last_seq, created_ms)"
                 " VALUES (?, ?, ?, ?, ?, ?) RETURNING id",
                 {name, std::string(kind), next, step, last, session.NowMs()})
            .at(0)
            .Int(0);
    counter.Create(session, id, next, step);
    return id;
}

const char* SummarySql =
    "SELECT p.name, p.kind, p.next_seq, p.step, p.last_seq,"
    " (SELECT MIN(seq) FROM released WHERE pool_id = p.id),"
    " (SELECT COUNT(*) FROM released WHERE pool_id = p.id),"
    " (SELECT COUNT(*) FROM reservations WHERE pool_id = p.id AND state = 'used'),"
    " (SELECT COUNT(*) FROM reservations WHERE pool_id = p.id AND state = 'spoiled'),"
    " (SELECT COUNT(*) FROM reservations WHERE pool_id = p.id AND state = 'open'),"
    " p.id FROM pools p";

Json Summary(SqlSession& session, const PoolCounter& positions, const SqlRow& row) {
    const bool counter = row.Text(1) == "counter";
    const std::int64_t next = positions.Peek(session, row.Int(10), row.Int(2), row.Int(3));
    const std::int64_t last = row.Int(4);
    const std::optional<std::int64_t> released = row.MaybeInt(5);
    // The sequence number a reservation takes now.
    std::optional<std::int64_t> seq = released;
    if (!seq && next <= last) {
        seq = next;
    }
    Json nextValue = nullptr;
    if (seq && counter) {
        nextValue = std::to_string(*seq);
    } else if (seq) {
        nextValue = session
                        .Run("SELECT value FROM pool_values WHERE pool_id = ? AND seq = ?",
                             {row.Int(10), *seq})
                        .at(0)
                        .Text(0);
    }
    Json summary;
    summary["name"] = row.Text(0);
    summary["kind"] = row.Text(1);
    summary["next"] = nextValue;
    summary["step"] = row.Int(3);
    summary["used"] = row.Int(7);
    summary["released"] = row.Int(6);
    summary["spoiled"] = row.Int(8);
    summary["open"] = row.Int(9);
    summary["left"] =
        counter ? Json(nullptr) : Json(std::max<std::int64_t>(last - next + 1, 0) + row.Int(6));
    return summary;
}

} // namespace

void AddCounterPool(Database& db, const std::string& name, std::int64_t start, std::int64_t step) {
    CheckName(name);
    if (start < 0 || step < 1 || start > Largest - step) {
        throw Refusal(HttpStatus::BadRequest,
                      "a counter starts at 0 or above, with a step of 1 or more, and its first "
                      "number plus the step stays below 2^63");
    }
    db.Write([&](SqlSession& session) {
        // The last number that can be given with the next one still a 64-bit number.
        InsertPool(session, db.Counter(), name, "counter", start, step, Largest - step);
    });
}

void AddListPool(Database& db, const std::string& name, const std::vector<std::string>& values) {
    CheckName(name);
    std::vector<std::string> kept;
    std::set<std::string> seen;
    for (std::size_t line = 0; line < values.size(); ++line) {
        std::string value = values[line];
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
            value.pop_back();
        }
        if (value.empty()) {
            continue;
        }
        if (!seen.insert(value).second) {
            throw Refusal(HttpStatus::BadRequest, "line " + std::to_string(line + 1) +
                                                      " repeats the value " + value +
                                                      ", which would go to two boards");
        }
        kept.push_back(std::move(value));
    }
    if (kept.empty()) {
        throw Refusal(HttpStatus::BadRequest, "the list holds no value");
    }
    db.Write([&](SqlSession& session) {
        const std::int64_t id = InsertPool(session, db.Counter(), name, "list", 0, 1,
                                           static_cast<std::int64_t>(kept.size()) - 1);
        for (std::size_t seq = 0; seq < kept.size(); ++seq) {
            session.Run("INSERT INTO pool_values (pool_id, seq, value) VALUES (?, ?, ?)",
                        {id, static_cast<std::int64_t>(seq), kept[seq]});
        }
    });
}

Json PoolSummaries(Database& db) {
    Json pools = Json::array();
    db.Read([&](SqlSession& session) {
        pools = Json::array();
        for (const SqlRow& row : session.Run(std::string(SummarySql) + " ORDER BY p.name")) {
            pools.push_back(Summary(session, db.Counter(), row));
        }
    });
    return pools;
}

Json PoolSummary(Database& db, const std::string& name) {
    Json pool;
    db.Read([&](SqlSession& session) {
        const SqlRows rows = session.Run(std::string(SummarySql) + " WHERE p.name = ?", {name});
        if (rows.empty()) {
            throw Refusal(HttpStatus::NotFound, "no pool named " + name);
        }
        pool = Summary(session, db.Counter(), rows.at(0));
    });
    return pool;
}
