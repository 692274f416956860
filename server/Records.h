#pragma once
// Board records as the stations send them: one JSON object per board's run, kept whole, found
// by station, port, serial number, lot and time. A record carries an "id" made by its station;
// sending it again changes nothing, so a station may resend whatever it is not sure arrived.

#include "server/Database.h"
#include "server/JsonInput.h"

#include <cstdint>
#include <optional>
#include <string>

// Checks what the server relies on ("id", "time" in UTC ISO 8601, "exit_status", the types of
// "station", "port", "serial" and tags.lot) and names the station when the record does not
// (the token's name). Throws Refusal 400.
Json CheckedRecord(Json record, const std::string& station);

// In the caller's transaction: stores the checked record, with the feed's event; false when
// the same record was stored before. Throws Refusal 409 when its id holds another record.
bool InsertRecord(SqlSession& session, const Json& record, std::optional<std::int64_t> reservation,
                  std::int64_t nowMs);
bool StoreRecord(Database& db, const Json& record);

struct RecordFilter {
    std::optional<std::string> Station, Port, Serial, Lot;
    std::optional<bool> Passed;
    std::optional<std::int64_t> SinceMs, UntilMs; // time >= since, time < until
    std::int64_t Limit = 500;
};

// The records that pass the filter, newest first.
Json QueryRecords(Database& db, const RecordFilter& filter);
// {"serial", "records": [...oldest first], "events": [{"time", "event", "pool", "reservation",
// "station", "port"}...]}: every record and serial event of one number.
Json SerialHistory(Database& db, const std::string& serial);
