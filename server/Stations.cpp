#include "server/Stations.h"

#include "server/Feed.h"
#include "server/IsoTime.h"
#include "server/Refusal.h"

#include <set>

namespace {

constexpr std::size_t MaxPositions = 64;

[[noreturn]] void Bad(const std::string& why) {
    throw Refusal(HttpStatus::BadRequest, why);
}

void CheckPosition(const Json& position, std::size_t index) {
    const std::string at = "positions[" + std::to_string(index) + "]";
    if (!position.is_object()) {
        Bad(at + " must be an object");
    }
    static const std::set<std::string> states = {"waiting", "flashing", "pass", "fail"};
    try {
        RequiredInteger(position, "position");
        OptionalInteger(position, "position", 1, 999);
        RequiredString(position, "port");
        if (!states.contains(RequiredString(position, "state"))) {
            Bad(at + ".state must be waiting, flashing, pass or fail");
        }
        OptionalString(position, "stage");
        OptionalInteger(position, "percent", 0, 100);
        OptionalString(position, "serial");
        OptionalString(position, "reason", 1000);
    } catch (const Refusal& refusal) {
        Bad(at + ": " + refusal.what());
    }
    const auto seconds = position.find("seconds");
    if (seconds != position.end() && !seconds->is_null() && !seconds->is_number()) {
        Bad(at + ": \"seconds\" must be a number");
    }
}

Json WithTimes(Json station, const std::string& name, std::int64_t seenMs, std::int64_t nowMs) {
    Json out;
    out["name"] = name;
    out["last_seen"] = IsoFromMs(seenMs);
    out["seconds_since_seen"] = (nowMs - seenMs) / 1000;
    for (auto& [key, value] : station.items()) {
        out[key] = std::move(value);
    }
    return out;
}

} // namespace

Json ReportStation(Database& db, const std::string& name, Json report, const std::string& token) {
    if (!IsName(name)) {
        Bad("a station's name is 1 to 64 letters, digits, '.', '_' or '-'");
    }
    RequiredString(report, "project");
    RequiredString(report, "firmware");
    RequiredString(report, "firmware_hash", 64);
    const auto positions = report.find("positions");
    if (positions == report.end() || !positions->is_array() || positions->size() > MaxPositions) {
        Bad("\"positions\" must be an array of at most " + std::to_string(MaxPositions) +
            " positions");
    }
    for (std::size_t i = 0; i < positions->size(); ++i) {
        CheckPosition((*positions)[i], i);
    }
    for (const char* own : {"name", "last_seen", "seconds_since_seen"}) {
        report.erase(own);
    }
    const std::string body = report.dump();
    Json result;
    db.Write([&](SqlSession& session) {
        const std::int64_t now = session.NowMs();
        session.Send(
            "INSERT INTO stations (name, body, token, first_seen_ms, last_seen_ms)"
            " VALUES (?, ?, ?, ?, ?) ON CONFLICT (name) DO UPDATE SET body = excluded.body,"
            " token = excluded.token, last_seen_ms = excluded.last_seen_ms",
            {name, body, token, now, now});
        result = WithTimes(report, name, now, now);
        AppendFeed(session, "station", result, now);
    });
    return result;
}

Json ListStations(Database& db) {
    Json stations;
    db.Read([&](SqlSession& session) {
        stations = Json::array();
        const std::int64_t now = session.NowMs();
        for (const SqlRow& row :
             session.Run("SELECT name, body, last_seen_ms FROM stations ORDER BY name")) {
            stations.push_back(WithTimes(Json::parse(row.Text(1)), row.Text(0), row.Int(2), now));
        }
    });
    return stations;
}
