#include "server/Reservations.h"

#include "server/Feed.h"
#include "server/IsoTime.h"
#include "server/Records.h"
#include "server/Refusal.h"

#include <optional>

namespace {

constexpr const char* ReservationSql =
    "SELECT r.id, p.name, r.serial, r.state, r.written, r.station, r.port, r.created_ms,"
    " r.lease_end_ms, r.ended_ms, r.spoiled_by, r.record_id"
    " FROM reservations r JOIN pools p ON p.id = r.pool_id";

// A reservation's columns, as ReservationSql reads them.
struct Row {
    std::int64_t Id = 0;
    std::string Pool, Serial, State;
    bool Written = false;
    std::string Station, Port;
    std::int64_t CreatedMs = 0, LeaseEndMs = 0;
    std::optional<std::int64_t> EndedMs;
    std::optional<std::string> SpoiledBy, RecordId;
};

Json ReservationJson(const Row& row) {
    const auto orNull = [](const auto& value) { return value ? Json(*value) : Json(nullptr); };
    Json reservation;
    reservation["id"] = row.Id;
    reservation["pool"] = row.Pool;
    reservation["serial"] = row.Serial;
    reservation["state"] = row.State;
    reservation["written"] = row.Written;
    reservation["station"] = row.Station;
    reservation["port"] = row.Port;
    reservation["created"] = IsoFromMs(row.CreatedMs);
    reservation["lease_end"] = IsoFromMs(row.LeaseEndMs);
    reservation["ended"] = row.EndedMs ? Json(IsoFromMs(*row.EndedMs)) : Json(nullptr);
    reservation["spoiled_by"] = orNull(row.SpoiledBy);
    reservation["record_id"] = orNull(row.RecordId);
    return reservation;
}

Json ReservationJson(const SqlRow& row) {
    const auto text = [&row](std::size_t column) {
        return row.IsNull(column) ? std::nullopt : std::optional<std::string>(row.Text(column));
    };
    return ReservationJson(Row{row.Int(0), row.Text(1), row.Text(2), row.Text(3), row.Int(4) != 0,
                               row.Text(5), row.Text(6), row.Int(7), row.Int(8), row.MaybeInt(9),
                               text(10), text(11)});
}

Json Fetch(SqlSession& session, std::int64_t id) {
    const SqlRows rows = session.Run(std::string(ReservationSql) + " WHERE r.id = ?", {id});
    if (rows.empty()) {
        throw Refusal(HttpStatus::NotFound, "no reservation " + std::to_string(id));
    }
    return ReservationJson(rows.at(0));
}

// Journals a change of reservation id and tells the feed how the reservation stands now: as
// given, else as the database has it.
Json Changed(SqlSession& session, std::int64_t id, const char* event, std::int64_t nowMs,
             std::optional<Json> reservation = std::nullopt) {
    session.Send("INSERT INTO serial_events (reservation_id, event, time_ms) VALUES (?, ?, ?)",
                 {id, std::string(event), nowMs});
    if (!reservation) {
        reservation = Fetch(session, id);
    }
    AppendFeed(session, "reservation", *reservation, nowMs);
    return *reservation;
}

// Why an open reservation can no longer change as asked.
[[noreturn]] void Refuse(const Json& reservation, std::int64_t nowMs) {
    const std::string name = "reservation " + std::to_string(reservation["id"].get<std::int64_t>());
    if (reservation["state"] != "open") {
        throw Refusal(HttpStatus::Conflict,
                      name + " ended as " + reservation["state"].get<std::string>());
    }
    if (*MsFromIso(reservation["lease_end"].get<std::string>()) < nowMs) {
        throw Refusal(HttpStatus::Conflict,
                      "the lease of " + name + " ran out at " +
                          reservation["lease_end"].get<std::string>() + ": its number " +
                          reservation["serial"].get<std::string>() + " is spoiled");
    }
    throw Refusal(HttpStatus::Conflict, "the number " + reservation["serial"].get<std::string>() +
                                            " of " + name +
                                            " was written to a board: end it as used or spoiled");
}

// An end that changed nothing: the reservation as it stands when it had ended so already (the
// end sent again), else why it cannot.
Json EndedBefore(SqlSession& session, std::int64_t id, const char* state, std::int64_t nowMs) {
    Json reservation = Fetch(session, id);
    if (reservation["state"] != state) {
        Refuse(reservation, nowMs);
    }
    return reservation;
}

} // namespace

Json Reserve(Database& db, const ReservationRequest& request) {
    Json result;
    db.Write([&](SqlSession& session) {
        // The pool, and the smallest of its released numbers, which go first (one that another
        // transaction is taking is passed over).
        const SqlRows pool = session.Run(
            std::string("SELECT p.id, p.kind, p.last_seq, r.seq, r.serial FROM pools p"
                        " LEFT JOIN released r ON r.pool_id = p.id AND r.seq = (SELECT seq FROM"
                        " released WHERE pool_id = p.id ORDER BY seq LIMIT 1") +
                session.SkipLocked() + ") WHERE p.name = ?",
            {request.Pool});
        if (pool.empty()) {
            throw Refusal(HttpStatus::NotFound, "no pool named " + request.Pool);
        }
        const std::int64_t poolId = pool.at(0).Int(0);
        std::int64_t seq = 0;
        std::string serial;
        if (!pool.at(0).IsNull(3)) {
            seq = pool.at(0).Int(3);
            serial = pool.at(0).Text(4);
            session.Send("DELETE FROM released WHERE pool_id = ? AND seq = ?", {poolId, seq});
        } else {
            const std::optional<std::int64_t> next =
                db.Counter().Take(session, poolId, pool.at(0).Int(2));
            if (!next) {
                throw Refusal(HttpStatus::Conflict,
                              "the pool " + request.Pool + " has no numbers left");
            }
            seq = *next;
            serial = pool.at(0).Text(1) == "counter"
                         ? std::to_string(seq)
                         : session
                               .Run("SELECT value FROM pool_values WHERE pool_id = ? AND seq = ?",
                                    {poolId, seq})
                               .at(0)
                               .Text(0);
        }
        const std::int64_t now = session.NowMs();
        // The unique index on held numbers refuses this row if the number is not free.
        const std::int64_t leaseEnd = now + request.LeaseSeconds * 1000;
        const std::int64_t id =
            session
                .Run("INSERT INTO reservations (pool_id, seq, serial, state, station, port, token,"
                     " created_ms, lease_end_ms) VALUES (?, ?, ?, 'open', ?, ?, ?, ?, ?)"
                     " RETURNING id",
                     {poolId, seq, serial, request.Station, request.Port, request.Token, now,
                      leaseEnd})
                .at(0)
                .Int(0);
        result = Changed(session, id, "reserved", now,
                         ReservationJson(Row{id,
                                             request.Pool,
                                             serial,
                                             "open",
                                             false,
                                             request.Station,
                                             request.Port,
                                             now,
                                             leaseEnd,
                                             {},
                                             {},
                                             {}}));
    });
    return result;
}

Json Renew(Database& db, std::int64_t id, std::int64_t leaseSeconds, bool written) {
    Json result;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        const SqlRows renewed =
            session.Run("UPDATE reservations SET lease_end_ms = ?"
                        " WHERE id = ? AND state = 'open' AND lease_end_ms >= ? RETURNING id",
                        {now + leaseSeconds * 1000, id, now});
        if (renewed.empty()) {
            Refuse(Fetch(session, id), now);
        }
        if (written && !session
                            .Run("UPDATE reservations SET written = 1"
                                 " WHERE id = ? AND written = 0 RETURNING id",
                                 {id})
                            .empty()) {
            result = Changed(session, id, "written", now);
        } else {
            result = Fetch(session, id);
        }
    });
    return result;
}

Json EndUsed(Database& db, std::int64_t id, const Json& record) {
    Json result;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        const std::string recordId = record["id"].get<std::string>();
        const auto serial = record.find("serial");
        // The usual end in one statement: an open reservation (or one whose lease ran out
        // meanwhile) of the record's number.
        const SqlRows ended =
            serial == record.end() || !serial->is_string()
                ? SqlRows{}
                : session.Run("UPDATE reservations SET state = 'used', ended_ms = ?,"
                              " spoiled_by = NULL, record_id = ? WHERE id = ? AND serial = ? AND"
                              " (state = 'open' OR (state = 'spoiled' AND spoiled_by = 'lease'))"
                              " RETURNING id, (SELECT name FROM pools WHERE id = pool_id), serial,"
                              " state, written, station, port, created_ms, lease_end_ms, ended_ms,"
                              " spoiled_by, record_id",
                              {now, recordId, id, serial->get<std::string>()});
        if (ended.empty()) {
            const Json reservation = Fetch(session, id);
            if (serial == record.end() || *serial != reservation["serial"]) {
                throw Refusal(HttpStatus::Conflict, "the record must name the serial number " +
                                                        reservation["serial"].get<std::string>() +
                                                        " of reservation " + std::to_string(id));
            }
            if (reservation["state"] == "used" && reservation["record_id"] == recordId) {
                result = reservation; // sent again: already so
                return;
            }
            Refuse(reservation, now);
        }
        InsertRecord(session, record, id, now);
        result = Changed(session, id, "used", now, ReservationJson(ended.at(0)));
    });
    return result;
}

Json EndReleased(Database& db, std::int64_t id) {
    Json result;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        const SqlRows ended = session.Run(
            "UPDATE reservations SET state = 'released', ended_ms = ? WHERE id = ?"
            " AND state = 'open' AND written = 0 AND lease_end_ms >= ? RETURNING pool_id, seq,"
            " serial",
            {now, id, now});
        if (ended.empty()) {
            result = EndedBefore(session, id, "released", now);
            return;
        }
        session.Send("INSERT INTO released (pool_id, seq, serial) VALUES (?, ?, ?)",
                     {ended.at(0).Int(0), ended.at(0).Int(1), ended.at(0).Text(2)});
        result = Changed(session, id, "released", now);
    });
    return result;
}

Json EndSpoiled(Database& db, std::int64_t id) {
    Json result;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        if (session
                .Run("UPDATE reservations SET state = 'spoiled', spoiled_by = 'station',"
                     " ended_ms = ? WHERE id = ? AND state = 'open' RETURNING id",
                     {now, id})
                .empty()) {
            result = EndedBefore(session, id, "spoiled", now);
            return;
        }
        result = Changed(session, id, "spoiled", now);
    });
    return result;
}

Json GetReservation(Database& db, std::int64_t id) {
    Json result;
    db.Read([&](SqlSession& session) { result = Fetch(session, id); });
    return result;
}

Json ListReservations(Database& db, const std::optional<std::string>& pool,
                      const std::optional<std::string>& state, std::int64_t limit) {
    Json list;
    db.Read([&](SqlSession& session) {
        list = Json::array();
        for (const SqlRow& row : session.Run(
                 std::string(ReservationSql) + " WHERE (CAST(? AS TEXT) IS NULL OR p.name = ?)"
                                               " AND (CAST(? AS TEXT) IS NULL OR r.state = ?)"
                                               " ORDER BY r.id DESC LIMIT ?",
                 {OrNull(pool), OrNull(pool), OrNull(state), OrNull(state), limit})) {
            list.push_back(ReservationJson(row));
        }
    });
    return list;
}

int SpoilExpired(Database& db) {
    // Looked for first, so that a quiet line costs no write (and no sync of the disk).
    bool any = false;
    db.Read([&](SqlSession& session) {
        any = !session
                   .Run("SELECT 1 FROM reservations WHERE state = 'open' AND lease_end_ms < ?"
                        " LIMIT 1",
                        {session.NowMs()})
                   .empty();
    });
    if (!any) {
        return 0;
    }
    int count = 0;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        const SqlRows spoiled =
            session.Run("UPDATE reservations SET state = 'spoiled', spoiled_by = 'lease',"
                        " ended_ms = ? WHERE state = 'open' AND lease_end_ms < ? RETURNING id",
                        {now, now});
        for (const SqlRow& row : spoiled) {
            Changed(session, row.Int(0), "spoiled", now);
        }
        count = static_cast<int>(spoiled.size());
    });
    return count;
}
