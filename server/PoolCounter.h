#pragma once
// How a pool's counter hands out its positions (the counter's numbers, or a list's places),
// from the pool's first position by its step up to its last:
// - in a row of the pool, updated by the reserving transaction: SQLite's one writer commits many
//   reservations at once anyway;
// - in a sequence of the database's (PostgreSQL): taking from it locks nothing, so the commits
//   of many stations share the syncs of the disk instead of waiting for each other. A position
//   taken by a transaction that fails is skipped, never given.

#include "server/Sql.h"

#include <cstdint>
#include <optional>

class PoolCounter {
public:
    virtual ~PoolCounter() = default;
    // For a pool row just inserted.
    virtual void Create(SqlSession& session, std::int64_t pool, std::int64_t first,
                        std::int64_t step) const = 0;
    // The next position of pool, none once it went past last.
    virtual std::optional<std::int64_t> Take(SqlSession& session, std::int64_t pool,
                                             std::int64_t last) const = 0;
    // The position Take gives next; stored is the pool row's next_seq.
    virtual std::int64_t Peek(SqlSession& session, std::int64_t pool, std::int64_t stored,
                              std::int64_t step) const = 0;
};

const PoolCounter& RowCounter();
const PoolCounter& SequenceCounter();
