#pragma once
// Pools of serial numbers: a counter (start, step) or a list of values given once each in
// their order. The numbers' states are counted from the reservations.

#include "server/Database.h"
#include "server/JsonInput.h"

#include <cstdint>
#include <string>
#include <vector>

// Throw Refusal: 400 for a bad name, start or step, 409 for a name taken.
void AddCounterPool(Database& db, const std::string& name, std::int64_t start, std::int64_t step);
// values: one per line of a list file; blank lines are skipped, a value twice is refused.
void AddListPool(Database& db, const std::string& name, const std::vector<std::string>& values);

// {"name", "kind", "next", "step", "used", "released", "spoiled", "open", "left"}: next is the
// number a reservation would take now (a released one first), null when none is left; left
// counts what a list still has to give (released values included), null for a counter.
Json PoolSummaries(Database& db);
// One pool's summary; throws Refusal 404 for an unknown name.
Json PoolSummary(Database& db, const std::string& name);
