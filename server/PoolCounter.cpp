#include "server/PoolCounter.h"

#include <string>

namespace {

class InRow : public PoolCounter {
public:
    void Create(SqlSession&, std::int64_t, std::int64_t, std::int64_t) const override {}

    std::optional<std::int64_t> Take(SqlSession& session, std::int64_t pool,
                                     std::int64_t) const override {
        const SqlRows taken =
            session.Run("UPDATE pools SET next_seq = next_seq + step"
                        " WHERE id = ? AND next_seq <= last_seq RETURNING next_seq - step",
                        {pool});
        if (taken.empty()) {
            return std::nullopt;
        }
        return taken.at(0).Int(0);
    }

    std::int64_t Peek(SqlSession&, std::int64_t, std::int64_t stored, std::int64_t) const override {
        return stored;
    }
};

class InSequence : public PoolCounter {
public:
    void Create(SqlSession& session, std::int64_t pool, std::int64_t first,
                std::int64_t step) const override {
        session.Run("SELECT pool_counter_create(?, ?, ?)", {pool, first, step});
    }

    std::optional<std::int64_t> Take(SqlSession& session, std::int64_t pool,
                                     std::int64_t last) const override {
        const std::int64_t position =
            session.Run("SELECT nextval(CAST(? AS regclass))", {Name(pool)}).at(0).Int(0);
        if (position > last) {
            return std::nullopt;
        }
        return position;
    }

    std::int64_t Peek(SqlSession& session, std::int64_t pool, std::int64_t stored,
                      std::int64_t step) const override {
        const SqlRow row =
            session.Run("SELECT pg_sequence_last_value(CAST(? AS regclass))", {Name(pool)}).at(0);
        // None taken yet: the first.
        return row.IsNull(0) ? stored : row.Int(0) + step;
    }

private:
    static std::string Name(std::int64_t pool) { return "pool_counter_" + std::to_string(pool); }
};

} // namespace

const PoolCounter& RowCounter() {
    static const InRow counter;
    return counter;
}

const PoolCounter& SequenceCounter() {
    static const InSequence counter;
    return counter;
}
