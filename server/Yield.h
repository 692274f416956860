#pragma once
// Yield over a time range, grouped by station, lot or hour: boards passed and failed, and the
// first-pass yield. A board is counted once: by its serial number, or, without one, each record
// is a board of its own (a board that failed before it took a number).

#include "server/Database.h"
#include "server/JsonInput.h"

#include <cstdint>
#include <optional>
#include <string>

enum class YieldBy { Station, Lot, Hour };

struct YieldQuery {
    YieldBy By = YieldBy::Station;
    std::int64_t SinceMs = 0; // time >= since
    std::int64_t UntilMs = 0; // time < until
    std::optional<std::string> Station, Lot;
};

// One object per group, in the group's order: {"station"|"lot"|"hour", "passed", "failed",
// "boards", "first_pass", "first_pass_yield"}; "hour" is the hour's start, "lot" may be null,
// first_pass_yield is first_pass / boards (null without boards).
Json Yield(Database& db, const YieldQuery& query);
