#include "server/Records.h"

#include "server/Feed.h"
#include "server/IsoTime.h"
#include "server/Refusal.h"

namespace {

[[noreturn]] void Bad(const std::string& why) {
    throw Refusal(HttpStatus::BadRequest, why);
}

// The text of an optional string field; a field that holds anything else is refused.
std::optional<std::string> TextOrNull(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_string()) {
        Bad(std::string("the record's \"") + key + "\" must be a string or null");
    }
    return it->get<std::string>();
}

std::optional<std::string> Lot(const Json& record) {
    const auto tags = record.find("tags");
    if (tags == record.end() || tags->is_null()) {
        return std::nullopt;
    }
    if (!tags->is_object()) {
        Bad("the record's \"tags\" must be an object");
    }
    return TextOrNull(*tags, "lot");
}

} // namespace

Json CheckedRecord(Json record, const std::string& station) {
    RequiredString(record, "id");
    if (!MsFromIso(RequiredString(record, "time", 64))) {
        Bad("the record's \"time\" must be UTC ISO 8601, as 2026-12-07T15:49:30Z");
    }
    RequiredInteger(record, "exit_status");
    TextOrNull(record, "port");
    TextOrNull(record, "serial");
    Lot(record);
    if (!TextOrNull(record, "station")) {
        record["station"] = station;
    }
    return record;
}

bool InsertRecord(SqlSession& session, const Json& record, std::optional<std::int64_t> reservation,
                  std::int64_t nowMs) {
    const std::string body = record.dump();
    const std::string id = record.at("id").get<std::string>();
    const bool inserted =
        !session
             .Run("INSERT INTO records (id, time_ms, station, port, serial, lot, passed,"
                  " reservation_id, received_ms, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                  " ON CONFLICT (id) DO NOTHING RETURNING seq",
                  {id, *MsFromIso(record.at("time").get<std::string>()),
                   record.at("station").get<std::string>(), OrNull(TextOrNull(record, "port")),
                   OrNull(TextOrNull(record, "serial")), OrNull(Lot(record)),
                   std::int64_t{record.at("exit_status").get<std::int64_t>() == 0},
                   OrNull(reservation), nowMs, body})
             .empty();
    if (!inserted) {
        // Sent before: the same record changes nothing, another one is refused.
        if (session.Run("SELECT body FROM records WHERE id = ?", {id}).at(0).Text(0) != body) {
            throw Refusal(HttpStatus::Conflict,
                          "the record id " + id + " holds another record already");
        }
        return false;
    }
    AppendFeed(session, "record", record, nowMs);
    return true;
}

bool StoreRecord(Database& db, const Json& record) {
    bool stored = false;
    db.Write([&](SqlSession& session) {
        stored = InsertRecord(session, record, std::nullopt, session.NowMs());
    });
    return stored;
}

Json QueryRecords(Database& db, const RecordFilter& filter) {
    const SqlValue station = OrNull(filter.Station), port = OrNull(filter.Port),
                   serial = OrNull(filter.Serial), lot = OrNull(filter.Lot),
                   since = OrNull(filter.SinceMs), until = OrNull(filter.UntilMs);
    const SqlValue passed =
        filter.Passed ? SqlValue(std::int64_t{*filter.Passed}) : SqlValue(nullptr);
    Json records = Json::array();
    db.Read([&](SqlSession& session) {
        records = Json::array();
        // Each filter is a parameter given twice: null leaves it out.
        for (const SqlRow& row :
             session.Run("SELECT body FROM records WHERE"
                         " (CAST(? AS TEXT) IS NULL OR station = ?) AND (CAST(? AS TEXT) IS NULL "
                         "OR port = ?)"
                         " AND (CAST(? AS TEXT) IS NULL OR serial = ?) AND (CAST(? AS TEXT) IS "
                         "NULL OR lot = ?)"
                         " AND (CAST(? AS BIGINT) IS NULL OR passed = ?)"
                         " AND (CAST(? AS BIGINT) IS NULL OR time_ms >= ?)"
                         " AND (CAST(? AS BIGINT) IS NULL OR time_ms < ?)"
                         " ORDER BY time_ms DESC, seq DESC LIMIT ?",
                         {station, station, port, port, serial, serial, lot, lot, passed, passed,
                          since, since, until, until, filter.Limit})) {
            records.push_back(Json::parse(row.Text(0)));
        }
    });
    return records;
}

Json SerialHistory(Database& db, const std::string& serial) {
    Json history;
    db.Read([&](SqlSession& session) {
        history = Json::object();
        history["serial"] = serial;
        history["records"] = Json::array();
        for (const SqlRow& row : session.Run(
                 "SELECT body FROM records WHERE serial = ? ORDER BY time_ms, seq", {serial})) {
            history["records"].push_back(Json::parse(row.Text(0)));
        }
        history["events"] = Json::array();
        for (const SqlRow& row :
             session.Run("SELECT e.time_ms, e.event, p.name, r.id, r.station, r.port"
                         " FROM serial_events e JOIN reservations r ON r.id = e.reservation_id"
                         " JOIN pools p ON p.id = r.pool_id WHERE r.serial = ?"
                         " ORDER BY e.time_ms, e.id",
                         {serial})) {
            Json event;
            event["time"] = IsoFromMs(row.Int(0));
            event["event"] = row.Text(1);
            event["pool"] = row.Text(2);
            event["reservation"] = row.Int(3);
            event["station"] = row.Text(4);
            event["port"] = row.Text(5);
            history["events"].push_back(std::move(event));
        }
    });
    return history;
}
