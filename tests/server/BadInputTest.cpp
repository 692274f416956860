// Requests the line refuses: each gets its status and a message, and nothing is stored.

#include "tests/server/LineFixture.h"

#include "server/TokenCheck.h"
#include "server/Tokens.h"
#include "tests/server/PostgresCluster.h"

#include <thread>

namespace {

enum class Who { Nobody, Station, Viewer, Unknown, Garbage, Revoked };

struct BadRequest {
    std::string name;
    Who who;
    std::string method;
    std::string path;
    std::string body;
    int status;
};

const std::string Reserve = "/api/v1/pools/widget/reservations";
const std::string Renew = "/api/v1/reservations/1/renew";
const std::string Used = "/api/v1/reservations/1/used";
const std::string Records = "/api/v1/records";
const std::string Station = "/api/v1/stations/bench-3";
const std::string Record =
    R"({"id":"r1","time":"2026-12-07T15:49:30Z","exit_status":0,"serial":"1000"})";
const std::string Report =
    R"({"project":"p","firmware":"f","firmware_hash":"h","positions":[{"position":1,"port":"COM3","state":"waiting"}]})";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

const std::vector<BadRequest> Cases = {
    {"MalformedJson", Who::Station, "POST", Reserve, R"({"port": "COM3")", 400},
    {"NotAnObject", Who::Station, "POST", Reserve, R"(["COM3"])", 400},
    {"PortMissing", Who::Station, "POST", Reserve, R"({"station": "bench-3"})", 400},
    {"PortNotText", Who::Station, "POST", Reserve, R"({"port": 3})", 400},
    {"LeaseTooLong", Who::Station, "POST", Reserve, R"({"port": "COM3", "lease_seconds": 3601})",
     400},
    {"NoToken", Who::Nobody, "POST", Reserve, R"({"port": "COM3"})", 401},
    {"UnknownToken", Who::Unknown, "POST", Reserve, R"({"port": "COM3"})", 401},
    {"GarbageToken", Who::Garbage, "POST", Reserve, R"({"port": "COM3"})", 401},
    {"RevokedToken", Who::Revoked, "POST", Reserve, R"({"port": "COM3"})", 401},
    {"NoTokenToRead", Who::Nobody, "GET", "/api/v1/records", "", 401},
    {"NoTokenForEvents", Who::Nobody, "GET", "/api/v1/events", "", 401},
    {"ViewerReserves", Who::Viewer, "POST", Reserve, R"({"port": "COM3"})", 403},
    {"ViewerRenews", Who::Viewer, "POST", Renew, "{}", 403},
    {"ViewerPostsARecord", Who::Viewer, "POST", Records, Record, 403},
    {"ViewerReportsAStation", Who::Viewer, "PUT", Station, Report, 403},
    {"UnknownPool", Who::Station, "POST", "/api/v1/pools/gadget/reservations",
     R"({"port": "COM3"})", 404},
    {"UnknownReservation", Who::Station, "POST", "/api/v1/reservations/99/released", "{}", 404},
    {"UnknownRoute", Who::Station, "POST", "/api/v1/reservation", "{}", 404},
    {"UnknownPageFile", Who::Nobody, "GET", "/page.jsx", "", 404},
    {"PageFileInAFolder", Who::Nobody, "GET", "/web/page.js", "", 404},
    {"PageFileOutsideIt", Who::Nobody, "GET", "/../CMakeLists.txt", "", 404},
    {"UsedWithoutRecord", Who::Station, "POST", Used, "{}", 400},
    {"UsedWithAnotherNumber", Who::Station, "POST", Used,
     R"({"record":)" + Replaced(Record, "1000", "1001") + "}", 409},
    {"RecordWithoutId", Who::Station, "POST", Records, Replaced(Record, R"("id":"r1",)", ""), 400},
    {"RecordTimeNotUtc", Who::Station, "POST", Records,
     Replaced(Record, "15:49:30Z", "15:49:30+01:00"), 400},
    {"RecordStatusNotANumber", Who::Station, "POST", Records,
     Replaced(Record, R"("exit_status":0)", R"("exit_status":"0")"), 400},
    {"RecordTagsNotAnObject", Who::Station, "POST", Records,
     Replaced(Record, R"("serial")", R"("tags":["lot"],"serial")"), 400},
    {"RecordOverOneMebibyte", Who::Station, "POST", Records,
     Replaced(Record, R"("serial")", R"("pad":")" + std::string(1 << 20, 'x') + R"(","serial")"),
     413},
    {"StationWithoutPositions", Who::Station, "PUT", Station,
     Replaced(Report, R"("positions")", R"("places")"), 400},
    {"PositionInAnUnknownState", Who::Station, "PUT", Station,
     Replaced(Report, "waiting", "resting"), 400},
    {"StationNameWithASpace", Who::Station, "PUT", "/api/v1/stations/bench%203", Report, 400},
    {"RecordsSinceNotATime", Who::Viewer, "GET", "/api/v1/records?since=yesterday", "", 400},
    {"RecordsLimitZero", Who::Viewer, "GET", "/api/v1/records?limit=0", "", 400},
    {"YieldByWeek", Who::Viewer, "GET", "/api/v1/yield?by=week", "", 400},
    {"EventsAfterNotANumber", Who::Viewer, "GET", "/api/v1/events?after=x", "", 400},
};

class BadInputTest : public LineFixture {
protected:
    // Everything a refused request could have changed, the pool's counter included.
    std::vector<std::int64_t> Stored() const {
        std::vector<std::int64_t> counts;
        for (const char* table : {"reservations", "serial_events", "released", "records",
                                  "stations", "feed", "pools", "tokens"}) {
            counts.push_back(Rows(table));
        }
        db_->Read([&](SqlSession& session) {
            counts.push_back(session.Run("SELECT next_seq FROM pools").at(0).Int(0));
        });
        return counts;
    }
};

} // namespace

TEST_P(BadInputTest, IsRefusedWithItsStatusAndStoresNothing) {
    // Reservation 1 is open; "gone" had a token, revoked since.
    ASSERT_EQ(Reserve().Status, 201);
    const std::string revoked = AddToken(*db_, "gone", TokenRole::Station);
    RevokeToken(*db_, "gone");
    for (const BadRequest& c : Cases) {
        const std::string token = c.who == Who::Station  ? station_
                                  : c.who == Who::Viewer ? viewer_
                                  : c.who == Who::Unknown
                                      ? "tvx_0123456789abcdef_" + std::string(48, '0')
                                  : c.who == Who::Garbage ? "let-me-in"
                                  : c.who == Who::Revoked ? revoked
                                                          : "";
        const std::vector<std::int64_t> before = Stored();
        const Reply reply = Call(c.method, c.path, c.body, token);
        EXPECT_EQ(reply.Status, c.status) << c.name << ": " << reply.Body;
        EXPECT_TRUE(reply.Body.contains("error") && reply.Body["error"].is_string() &&
                    !reply.Body["error"].get<std::string>().empty())
            << c.name << ": " << reply.Body;
        EXPECT_EQ(Stored(), before) << c.name;
    }
    // And the line still works.
    EXPECT_EQ(Reserve().Body["serial"], "1001");
}

INSTANTIATE_FOR_ENGINES(BadInputTest);

// A token that was let in is remembered for a while, no longer: revoked, it is refused once
// that time is over.
TEST_P(BadInputTest, ARevokedTokenIsRefusedOnceItsRememberedTimeIsOver) {
    TokenCheck tokens(*db_, std::chrono::milliseconds(300));
    const std::string token = AddToken(*db_, "leaving", TokenRole::Station);
    ASSERT_TRUE(tokens.Holder(token));
    ASSERT_TRUE(RevokeToken(*db_, "leaving"));
    EXPECT_TRUE(tokens.Holder(token));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_FALSE(tokens.Holder(token));
    EXPECT_FALSE(tokens.Holder(token));
}

namespace {

class DatabaseAwayTest : public LineFixture {};

} // namespace

// PostgreSQL stopped under a running server: 503, nothing kept, and service again once it is
// back, through new connections.
TEST_P(DatabaseAwayTest, Answers503UntilItIsBack) {
    PostgresCluster& cluster = SharedPostgres();
    cluster.Stop();
    const Reply reserve = Reserve();
    const Reply record = Post("/api/v1/records", BoardRecord("r1", "1000", 0));
    const Reply read = Get("/api/v1/pools");
    const Reply health = Call("GET", "/healthz", "", "");
    ASSERT_TRUE(cluster.Start()) << cluster.Problem();
    EXPECT_EQ(reserve.Status, 503) << reserve.Body;
    EXPECT_EQ(record.Status, 503) << record.Body;
    EXPECT_EQ(read.Status, 503) << read.Body;
    EXPECT_EQ(health.Status, 503) << health.Body;
    EXPECT_EQ(health.Body["status"], "unreachable");
    EXPECT_EQ(Reserve().Body["serial"], "1000");
    EXPECT_EQ(Rows("records"), 0);
}

INSTANTIATE_TEST_SUITE_P(Postgres, DatabaseAwayTest, testing::Values("postgresql"));
