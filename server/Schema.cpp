#include "server/Schema.h"

#include <string>
#include <vector>

// The rules of the serial numbers live here, so that every server on one database keeps them:
// - a pool's counter (pools.next_seq, or on PostgreSQL a sequence) only grows, by step, and
//   what it gives stays at or below last_seq (so never overflows);
// - reservations_one_holder: of all the reservations of one number, at most one is not
//   "released": a number is held by one reservation at a time, and once used or spoiled it is
//   never reserved again;
// - a reservation whose number's bytes went to a board (written) cannot be released;
// - reservations_ended_stay (trigger): an ended reservation never changes, except that one
//   spoiled by its lease may still be ended as used when its station's answer comes late;
// - released holds the numbers to offer again, smallest first.

namespace {

// Statements common to both engines once their types are filled in: {id} an identity key,
// {big} a 64-bit integer.
const std::vector<std::string> Tables = {
    "CREATE TABLE pools (id {id}, name TEXT NOT NULL UNIQUE,"
    " kind TEXT NOT NULL CHECK (kind IN ('counter', 'list')),"
    " next_seq {big} NOT NULL, step {big} NOT NULL CHECK (step > 0),"
    " last_seq {big} NOT NULL, created_ms {big} NOT NULL)",
    "CREATE TABLE pool_values (pool_id {big} NOT NULL REFERENCES pools (id),"
    " seq {big} NOT NULL, value TEXT NOT NULL,"
    " PRIMARY KEY (pool_id, seq), UNIQUE (pool_id, value))",
    "CREATE TABLE reservations (id {id}, pool_id {big} NOT NULL REFERENCES pools (id),"
    " seq {big} NOT NULL, serial TEXT NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('open', 'used', 'released', 'spoiled')),"
    " written INTEGER NOT NULL DEFAULT 0 CHECK (written IN (0, 1)),"
    " station TEXT NOT NULL, port TEXT NOT NULL, token TEXT NOT NULL,"
    " created_ms {big} NOT NULL, lease_end_ms {big} NOT NULL, ended_ms {big},"
    " spoiled_by TEXT CHECK (spoiled_by IN ('lease', 'station')), record_id TEXT,"
    " CHECK ((state = 'open') = (ended_ms IS NULL)),"
    " CHECK ((state = 'spoiled') = (spoiled_by IS NOT NULL)),"
    " CHECK (state <> 'released' OR written = 0))",
    "CREATE UNIQUE INDEX reservations_one_holder ON reservations (pool_id, seq)"
    " WHERE state <> 'released'",
    "CREATE INDEX reservations_open_lease ON reservations (lease_end_ms) WHERE state = 'open'",
    "CREATE INDEX reservations_serial ON reservations (serial)",
    "CREATE INDEX reservations_pool_state ON reservations (pool_id, state)",
    "CREATE TABLE released (pool_id {big} NOT NULL REFERENCES pools (id), seq {big} NOT NULL,"
    " serial TEXT NOT NULL, PRIMARY KEY (pool_id, seq))",
    "CREATE TABLE serial_events (id {id},"
    " reservation_id {big} NOT NULL REFERENCES reservations (id),"
    " event TEXT NOT NULL CHECK (event IN ('reserved', 'written', 'used', 'released', 'spoiled')),"
    " time_ms {big} NOT NULL)",
    "CREATE INDEX serial_events_reservation ON serial_events (reservation_id)",
    "CREATE TABLE records (seq {id}, id TEXT NOT NULL UNIQUE, time_ms {big} NOT NULL,"
    " station TEXT NOT NULL, port TEXT, serial TEXT, lot TEXT,"
    " passed INTEGER NOT NULL CHECK (passed IN (0, 1)), reservation_id {big},"
    " received_ms {big} NOT NULL, body TEXT NOT NULL)",
    // By time, holding all that yield reads: a day's records are read from the index alone.
    "CREATE INDEX records_time ON records (time_ms, station, lot, serial, passed, seq)",
    "CREATE INDEX records_station_time ON records (station, time_ms)",
    "CREATE INDEX records_serial ON records (serial)",
    "CREATE INDEX records_lot_time ON records (lot, time_ms)",
    "CREATE TABLE stations (name TEXT PRIMARY KEY, body TEXT NOT NULL, token TEXT NOT NULL,"
    " first_seen_ms {big} NOT NULL, last_seen_ms {big} NOT NULL)",
    "CREATE TABLE feed (id {id}, time_ms {big} NOT NULL,"
    " kind TEXT NOT NULL CHECK (kind IN ('reservation', 'record', 'station')),"
    " body TEXT NOT NULL)",
    "CREATE INDEX feed_time ON feed (time_ms)",
    "CREATE TABLE tokens (id {id}, key TEXT NOT NULL UNIQUE, name TEXT NOT NULL,"
    " role TEXT NOT NULL CHECK (role IN ('station', 'viewer', 'admin')),"
    " hash TEXT NOT NULL, created_ms {big} NOT NULL, revoked_ms {big})",
    "CREATE UNIQUE INDEX tokens_name ON tokens (name) WHERE revoked_ms IS NULL",
};

// What an update of a reservation may not do: change an ended one (but for a late "used" after
// its lease ran out), or take back that its number was written.
constexpr const char* ForbiddenChange =
    "(OLD.state <> 'open' AND NEW.state IS DISTINCT FROM OLD.state"
    " AND NOT (OLD.state = 'spoiled' AND OLD.spoiled_by = 'lease' AND NEW.state = 'used'))"
    " OR NEW.written < OLD.written OR NEW.seq <> OLD.seq OR NEW.pool_id <> OLD.pool_id";

const std::vector<std::string> SqliteCode = {
    std::string("CREATE TRIGGER reservations_ended_stay BEFORE UPDATE ON reservations WHEN ") +
        ForbiddenChange + " BEGIN SELECT RAISE(ABORT, 'an ended reservation does not change'); END",
};

const std::vector<std::string> PostgresCode = {
    std::string("CREATE FUNCTION reservations_ended_stay() RETURNS trigger AS $$ BEGIN IF ") +
        ForbiddenChange +
        " THEN RAISE EXCEPTION 'an ended reservation does not change'; END IF;"
        " RETURN NEW; END $$ LANGUAGE plpgsql",
    "CREATE TRIGGER reservations_ended_stay BEFORE UPDATE ON reservations"
    " FOR EACH ROW EXECUTE FUNCTION reservations_ended_stay()",
    // A pool's counter as a sequence of its own (see PoolCounter.h), made from numbers only.
    "CREATE FUNCTION pool_counter_create(pool BIGINT, first BIGINT, step BIGINT) RETURNS void"
    " AS $$ BEGIN EXECUTE format('CREATE SEQUENCE pool_counter_%s INCREMENT BY %s MINVALUE %s"
    " START WITH %s', pool, step, first, first); END $$ LANGUAGE plpgsql",
};

std::string Filled(std::string statement, const char* id, const char* big) {
    for (const auto& [from, to] : {std::pair{"{id}", id}, std::pair{"{big}", big}}) {
        for (std::size_t at; (at = statement.find(from)) != std::string::npos;) {
            statement.replace(at, std::string(from).size(), to);
        }
    }
    return statement;
}

void Migrate(SqlSession& session, const char* id, const char* big,
             const std::vector<std::string>& code) {
    session.Run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
    const SqlRows rows = session.Run("SELECT version FROM schema_version");
    const std::int64_t version = rows.empty() ? 0 : rows.at(0).Int(0);
    if (version > SchemaVersion) {
        throw SqlError(SqlFailure::Other,
                       "the database has schema version " + std::to_string(version) +
                           ", newer than this tervix-line's " + std::to_string(SchemaVersion));
    }
    if (version == SchemaVersion) {
        return;
    }
    // Version 0 is an empty database; version 1 the first tables.
    for (const std::string& statement : Tables) {
        session.Run(Filled(statement, id, big));
    }
    for (const std::string& statement : code) {
        session.Run(statement);
    }
    if (rows.empty()) {
        session.Run("INSERT INTO schema_version (version) VALUES (?)", {SchemaVersion});
    } else {
        session.Run("UPDATE schema_version SET version = ?", {SchemaVersion});
    }
}

} // namespace

void MigrateSqlite(SqlSession& session) {
    Migrate(session, "INTEGER PRIMARY KEY AUTOINCREMENT", "INTEGER", SqliteCode);
}

void MigratePostgres(SqlSession& session) {
    // Two servers starting at once on an empty database: one creates, the other waits and finds
    // the tables made.
    session.Run("SELECT pg_advisory_xact_lock(7432018)");
    Migrate(session, "BIGSERIAL PRIMARY KEY", "BIGINT", PostgresCode);
}
