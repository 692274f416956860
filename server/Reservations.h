#pragma once
// Reservations of serial numbers: a station takes a number for one board, holds it on a lease
// that it renews while the board runs, and ends it as used (with the board's record), released
// (nothing reached the board) or spoiled. A lease that runs out ends it as spoiled, whoever made
// it. Each change is one transaction, journaled as a serial event and told to the feed.

#include "server/Database.h"
#include "server/JsonInput.h"

#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::int64_t DefaultLeaseSeconds = 60;
inline constexpr std::int64_t MaxLeaseSeconds = 3600;

struct ReservationRequest {
    std::string Pool;
    std::string Station; // who asks, by the station's name
    std::string Port;
    std::string Token; // the name of the token that asked
    std::int64_t LeaseSeconds = DefaultLeaseSeconds;
};

// The reservation made: {"id", "pool", "serial", "state", "written", "station", "port",
// "created", "lease_end", "ended", "spoiled_by", "record_id"}. Throws Refusal 404 for an unknown
// pool, 409 when the pool has no number left.
Json Reserve(Database& db, const ReservationRequest& request);

// Extends the lease to now + leaseSeconds; with written, the number's bytes are going to the
// board and the reservation can no longer be released. Throws Refusal 404, or 409 once it ended
// or its lease ran out.
Json Renew(Database& db, std::int64_t id, std::int64_t leaseSeconds, bool written);
// Ends with the board's checked record, which must name the reservation's number. Also after
// the lease ran out: the board holds the number, and the answer came late.
Json EndUsed(Database& db, std::int64_t id, const Json& record);
// Refused (409) once the number was written, and after the lease ran out.
Json EndReleased(Database& db, std::int64_t id);
Json EndSpoiled(Database& db, std::int64_t id);

Json GetReservation(Database& db, std::int64_t id);
// The reservations of a pool (all pools when none), in one state (any when none), newest first.
Json ListReservations(Database& db, const std::optional<std::string>& pool,
                      const std::optional<std::string>& state, std::int64_t limit);

// Ends every open reservation whose lease ran out as spoiled; how many it ended.
int SpoilExpired(Database& db);
