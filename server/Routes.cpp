#include "server/Routes.h"

#include "res/Version.h"
#include "server/EventStream.h"
#include "server/Handler.h"
#include "server/Pools.h"
#include "server/Records.h"
#include "server/Refusal.h"
#include "server/Reservations.h"
#include "server/Schema.h"
#include "server/Stations.h"
#include "server/WebPage.h"
#include "server/Yield.h"

namespace {

constexpr std::int64_t DayMs = 24 * 3600 * 1000;

std::int64_t LeaseSeconds(const Json& body) {
    return OptionalInteger(body, "lease_seconds", 1, MaxLeaseSeconds).value_or(DefaultLeaseSeconds);
}

Answer Reservation(const httplib::Request& request, const Caller& caller, Database& db) {
    const Json body = ParseObject(request.body);
    ReservationRequest reservation;
    reservation.Pool = request.matches[1].str();
    reservation.Port = RequiredString(body, "port");
    reservation.Station = OptionalString(body, "station").value_or(caller.Name);
    reservation.Token = caller.Name;
    reservation.LeaseSeconds = LeaseSeconds(body);
    return {HttpStatus::Created, Reserve(db, reservation)};
}

Answer ReservationEnd(const httplib::Request& request, const Caller& caller, Database& db) {
    const std::int64_t id = IdInPath(request, 1);
    const std::string end = request.matches[2].str();
    const Json body = ParseObject(request.body, end != "used");
    if (end == "renew") {
        return {HttpStatus::Ok,
                Renew(db, id, LeaseSeconds(body), OptionalBool(body, "written", false))};
    }
    if (end == "used") {
        const auto record = body.find("record");
        if (record == body.end() || !record->is_object()) {
            throw Refusal(HttpStatus::BadRequest, "\"record\" must be the board's record");
        }
        return {HttpStatus::Ok, EndUsed(db, id, CheckedRecord(*record, caller.Name))};
    }
    return {HttpStatus::Ok, end == "released" ? EndReleased(db, id) : EndSpoiled(db, id)};
}

Answer RecordPost(const httplib::Request& request, const Caller& caller, Database& db) {
    const Json record = CheckedRecord(ParseObject(request.body), caller.Name);
    const bool stored = StoreRecord(db, record);
    Json body;
    body["id"] = record["id"];
    body["stored"] = stored;
    return {stored ? HttpStatus::Created : HttpStatus::Ok, body};
}

Answer RecordQuery(const httplib::Request& request, Database& db) {
    RecordFilter filter;
    filter.Station = TextParam(request, "station");
    filter.Port = TextParam(request, "port");
    filter.Serial = TextParam(request, "serial");
    filter.Lot = TextParam(request, "lot");
    if (const auto result = TextParam(request, "result")) {
        if (*result != "pass" && *result != "fail") {
            throw Refusal(HttpStatus::BadRequest, "result must be pass or fail");
        }
        filter.Passed = *result == "pass";
    }
    filter.SinceMs = TimeParam(request, "since");
    filter.UntilMs = TimeParam(request, "until");
    filter.Limit = LimitParam(request, 500, 10000);
    return {HttpStatus::Ok, QueryRecords(db, filter)};
}

Answer YieldQueryAnswer(const httplib::Request& request, Database& db) {
    YieldQuery query;
    const std::string by = TextParam(request, "by").value_or("station");
    if (by == "station") {
        query.By = YieldBy::Station;
    } else if (by == "lot") {
        query.By = YieldBy::Lot;
    } else if (by == "hour") {
        query.By = YieldBy::Hour;
    } else {
        throw Refusal(HttpStatus::BadRequest, "by must be station, lot or hour");
    }
    std::int64_t now = 0;
    db.Read([&](SqlSession& session) { now = session.NowMs(); });
    query.UntilMs = TimeParam(request, "until").value_or(now);
    query.SinceMs = TimeParam(request, "since").value_or(query.UntilMs - DayMs);
    query.Station = TextParam(request, "station");
    query.Lot = TextParam(request, "lot");
    return {HttpStatus::Ok, Yield(db, query)};
}

void Health(httplib::Response& response, Database& db) {
    Json body;
    try {
        db.Read([](SqlSession& session) { session.Run("SELECT 1"); });
        body["status"] = "ok";
    } catch (const SqlError& error) {
        response.status = HttpStatus::Unavailable;
        body["status"] = "unreachable";
        body["error"] = error.what();
    }
    body["engine"] = db.Engine();
    body["schema_version"] = SchemaVersion;
    body["version"] = TervixVersion;
    response.set_content(body.dump(), "application/json");
}

} // namespace

void AddRoutes(httplib::Server& server, Database& db, EventHub& hub, TokenCheck& tokens) {
    const auto read = [&db, &tokens](auto answer) {
        return Guarded(tokens, Access::Read,
                       [&db, answer](const httplib::Request& request, const Caller&) {
                           return answer(request, db);
                       });
    };
    const auto change = [&db, &tokens](auto answer) {
        return Guarded(tokens, Access::Change,
                       [&db, answer](const httplib::Request& request, const Caller& caller) {
                           return answer(request, caller, db);
                       });
    };
    server.Get("/healthz", [&db](const httplib::Request&, httplib::Response& response) {
        Health(response, db);
    });
    server.Post(R"(/api/v1/pools/([^/]+)/reservations)", change(Reservation));
    server.Get("/api/v1/pools", read([](const httplib::Request&, Database& on) {
                   return Answer{HttpStatus::Ok, PoolSummaries(on)};
               }));
    server.Get(R"(/api/v1/pools/([^/]+))", read([](const httplib::Request& request, Database& on) {
                   return Answer{HttpStatus::Ok, PoolSummary(on, request.matches[1].str())};
               }));
    server.Post(R"(/api/v1/reservations/([0-9]+)/(renew|used|released|spoiled))",
                change(ReservationEnd));
    server.Get(R"(/api/v1/reservations/([0-9]+))",
               read([](const httplib::Request& request, Database& on) {
                   return Answer{HttpStatus::Ok, GetReservation(on, IdInPath(request, 1))};
               }));
    server.Get("/api/v1/reservations", read([](const httplib::Request& request, Database& on) {
                   return Answer{HttpStatus::Ok, ListReservations(on, TextParam(request, "pool"),
                                                                  TextParam(request, "state"),
                                                                  LimitParam(request, 500, 10000))};
               }));
    server.Post("/api/v1/records", change(RecordPost));
    server.Get("/api/v1/records", read(RecordQuery));
    server.Get("/api/v1/yield", read(YieldQueryAnswer));
    server.Get(R"(/api/v1/serials/([^/]+))",
               read([](const httplib::Request& request, Database& on) {
                   return Answer{HttpStatus::Ok, SerialHistory(on, request.matches[1].str())};
               }));
    server.Get("/api/v1/stations", read([](const httplib::Request&, Database& on) {
                   return Answer{HttpStatus::Ok, ListStations(on)};
               }));
    server.Put(R"(/api/v1/stations/([^/]+))",
               change([](const httplib::Request& request, const Caller& caller, Database& on) {
                   return Answer{HttpStatus::Ok,
                                 ReportStation(on, request.matches[1].str(),
                                               ParseObject(request.body), caller.Name)};
               }));
    server.Get("/api/v1/events",
               [&tokens, &hub](const httplib::Request& request, httplib::Response& response) {
                   StreamEvents(request, response, tokens, hub);
               });
    AddPage(server);
    // Whatever no route answered, and httplib's own refusals (413), in JSON too.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            Fail(response, response.status,
                 response.status == HttpStatus::TooLarge
                     ? "the request is larger than " + std::to_string(MaxRequestBytes) + " bytes"
                 : response.status == HttpStatus::NotFound
                     ? "no such route"
                     : "the request was refused (HTTP " + std::to_string(response.status) + ")");
        }
    });
}
