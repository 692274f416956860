// Serial numbers through the API, on both engines: who gets which number, how a reservation
// ends, and what the database lets no one do.

#include "tests/server/LineFixture.h"

#include "server/Pools.h"

#include <chrono>
#include <set>
#include <thread>

namespace {

class ReservationTest : public LineFixture {};

// Waits until reservation id is in state, or 10 s.
Json AwaitState(const LineFixture& fixture, std::int64_t id, const std::string& state,
                const std::function<Reply(const std::string&)>& get) {
    Json reservation;
    for (int i = 0; i < 200; ++i) {
        reservation = get("/api/v1/reservations/" + std::to_string(id)).Body;
        if (reservation["state"] == state) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    (void)fixture;
    return reservation;
}

} // namespace

TEST_P(ReservationTest, ReleasedNumbersComeFirstSmallestFirstAndEndedOnesNever) {
    std::vector<std::int64_t> ids;
    for (const char* port : {"COM3", "COM4", "COM5", "COM6"}) {
        const Reply reply = Reserve(port);
        ASSERT_EQ(reply.Status, 201) << reply.Body;
        ids.push_back(reply.Body["id"].get<std::int64_t>());
    }
    EXPECT_EQ(End(ids[0], "used").Status, 200);
    EXPECT_EQ(End(ids[3], "released").Status, 200);
    EXPECT_EQ(End(ids[1], "released").Status, 200);
    EXPECT_EQ(End(ids[2], "spoiled").Status, 200);
    // 1001 and 1003 were released; 1000 used and 1002 spoiled are never given again.
    std::vector<std::string> serials;
    for (int i = 0; i < 3; ++i) {
        serials.push_back(Reserve().Body["serial"].get<std::string>());
    }
    EXPECT_EQ(serials, (std::vector<std::string>{"1001", "1003", "1004"}));
    const Reply pool = Get("/api/v1/pools/widget");
    EXPECT_EQ(pool.Body["next"], "1005");
    EXPECT_EQ(pool.Body["used"], 1);
    EXPECT_EQ(pool.Body["released"], 0);
    EXPECT_EQ(pool.Body["spoiled"], 1);
    EXPECT_EQ(pool.Body["open"], 3);
}

TEST_P(ReservationTest, AListIsGivenInItsOrderOnceAndSaysWhenItIsUsedUp) {
    AddListPool(*db_, "labels", {"B-7", "", "A-1\r"});
    const auto reserve = [this] {
        return Post("/api/v1/pools/labels/reservations", {{"port", "COM3"}});
    };
    const Reply first = reserve();
    EXPECT_EQ(first.Body["serial"], "B-7");
    EXPECT_EQ(reserve().Body["serial"], "A-1");
    const Reply none = reserve();
    EXPECT_EQ(none.Status, 409);
    EXPECT_EQ(none.Body["error"], "the pool labels has no numbers left");
    End(first.Body["id"].get<std::int64_t>(), "released");
    EXPECT_EQ(Get("/api/v1/pools/labels").Body["left"], 1);
    EXPECT_EQ(reserve().Body["serial"], "B-7");
    EXPECT_EQ(Get("/api/v1/pools/labels").Body["next"], nullptr);
}

// A number whose bytes went to a board stays with it: used or spoiled, never released. Every
// end may be sent again (a station resends what it is not sure arrived) and changes nothing.
TEST_P(ReservationTest, AnEndIsFinalAndAWrittenNumberIsNeverReleased) {
    const std::int64_t written = Reserve().Body["id"].get<std::int64_t>();
    const std::string path = "/api/v1/reservations/" + std::to_string(written);
    EXPECT_EQ(Post(path + "/renew", {{"written", true}}).Body["written"], true);
    const Reply refused = End(written, "released");
    EXPECT_EQ(refused.Status, 409);
    EXPECT_EQ(refused.Body["error"], "the number 1000 of reservation 1 was written to a board: "
                                     "end it as used or spoiled");
    EXPECT_EQ(End(written, "spoiled").Status, 200);
    EXPECT_EQ(End(written, "spoiled").Body["state"], "spoiled");
    EXPECT_EQ(End(written, "used").Status, 409);
    EXPECT_EQ(End(written, "released").Status, 409);
    EXPECT_EQ(Post(path + "/renew", Json::object()).Status, 409);

    const std::int64_t used = Reserve().Body["id"].get<std::int64_t>();
    const Reply once = End(used, "used");
    EXPECT_EQ(once.Body["state"], "used");
    EXPECT_EQ(End(used, "used").Body, once.Body);
    EXPECT_EQ(End(used, "released").Status, 409);
    EXPECT_EQ(End(used, "spoiled").Status, 409);
    // The record must name the reservation's number.
    const std::int64_t other = Reserve().Body["id"].get<std::int64_t>();
    EXPECT_EQ(Post("/api/v1/reservations/" + std::to_string(other) + "/used",
                   {{"record", BoardRecord("wrong", "1000", 0)}})
                  .Status,
              409);
    EXPECT_EQ(Rows("records"), 1);
    EXPECT_EQ(Get(path).Body["state"], "spoiled");
}

// Whoever made it, a reservation whose lease ran out is spoiled by the server; a board that
// did get the number may still be recorded as used when its station's answer comes late.
TEST_P(ReservationTest, ALeaseThatRunsOutSpoilsTheNumberForGood) {
    const Reply lost = Reserve("COM3", 1);
    const Reply late = Reserve("COM4", 1);
    const std::int64_t lostId = lost.Body["id"].get<std::int64_t>();
    const std::int64_t lateId = late.Body["id"].get<std::int64_t>();
    const auto get = [this](const std::string& path) { return Get(path); };
    const Json spoiled = AwaitState(*this, lostId, "spoiled", get);
    EXPECT_EQ(spoiled["spoiled_by"], "lease");
    EXPECT_EQ(AwaitState(*this, lateId, "spoiled", get)["state"], "spoiled");
    EXPECT_EQ(End(lostId, "released").Status, 409);
    EXPECT_EQ(
        Post("/api/v1/reservations/" + std::to_string(lostId) + "/renew", Json::object()).Status,
        409);
    const Reply used = End(lateId, "used");
    EXPECT_EQ(used.Status, 200) << used.Body;
    EXPECT_EQ(used.Body["spoiled_by"], nullptr);
    EXPECT_EQ(Reserve().Body["serial"], "1002");
    EXPECT_EQ(Get("/api/v1/pools/widget").Body["spoiled"], 1);
}

// What the server checks first, the database refuses anyway: a change made behind the server's
// back cannot break the numbers' rules.
TEST_P(ReservationTest, TheDatabaseItselfRefusesWhatBreaksTheRules) {
    const std::int64_t id = Reserve().Body["id"].get<std::int64_t>();
    End(Reserve().Body["id"].get<std::int64_t>(), "used");
    const std::vector<std::pair<std::string, std::string>> forbidden = {
        {"a second holder of a held number",
         "INSERT INTO reservations (pool_id, seq, serial, state, station, port, token, created_ms,"
         " lease_end_ms) SELECT pool_id, seq, serial, 'open', 'x', 'x', 'x', 0, 0"
         " FROM reservations WHERE id = 1"},
        {"a used number held again",
         "INSERT INTO reservations (pool_id, seq, serial, state, station, port, token, created_ms,"
         " lease_end_ms) SELECT pool_id, seq, serial, 'open', 'x', 'x', 'x', 0, 0"
         " FROM reservations WHERE id = 2"},
        {"a used number released", "UPDATE reservations SET state = 'open', ended_ms = NULL"
                                   " WHERE id = 2"},
        {"a written number released",
         "UPDATE reservations SET written = 1, state = 'released', ended_ms = 1 WHERE id = 1"},
        {"an open reservation without an end time",
         "UPDATE reservations SET state = 'used' WHERE id = 1"},
    };
    for (const auto& [what, sql] : forbidden) {
        // Run at once, or held back to go with the commit: refused either way, and the
        // connection serves the next write.
        for (const bool heldBack : {false, true}) {
            try {
                db_->Write([&](SqlSession& session) {
                    if (heldBack) {
                        session.Send(sql);
                    } else {
                        session.Run(sql);
                    }
                });
                ADD_FAILURE() << what << " was allowed (held back: " << heldBack << ")";
            } catch (const SqlError& error) {
                EXPECT_EQ(error.Failure(), SqlFailure::Constraint) << what << ": " << error.what();
            }
        }
    }
    // A counter set back below the numbers given: the next reservation is refused, not doubled.
    db_->Write([this](SqlSession& session) {
        session.Run(GetParam() == "sqlite" ? "UPDATE pools SET next_seq = 1001"
                                           : "SELECT setval('pool_counter_1', 1001, false)");
    });
    const Reply refused = Reserve();
    EXPECT_EQ(refused.Status, 409) << refused.Body;
    EXPECT_EQ(Rows("reservations"), 2);
    EXPECT_EQ(Get("/api/v1/reservations/" + std::to_string(id)).Body["state"], "open");
}

// A statement held back fails the write it belongs to, not the next one on the same connection,
// and a statement first seen in a failed write is prepared again when next used.
TEST_P(ReservationTest, AFailureHeldBackEndsItsOwnWriteOnly) {
    const std::string count = "SELECT COUNT(*) FROM pools WHERE name <> ?";
    EXPECT_THROW(db_->Write([&](SqlSession& session) {
        session.Send("INSERT INTO pools_misspelt (name) VALUES ('x')");
        session.Run(count, {std::string("x")});
    }),
                 SqlError);
    std::int64_t pools = -1;
    db_->Write(
        [&](SqlSession& session) { pools = session.Run(count, {std::string("x")}).at(0).Int(0); });
    EXPECT_EQ(pools, 1);
}

// A stop that comes before the server's loop has begun (SIGTERM right at the start) is not lost.
TEST_P(ReservationTest, AServerStoppedTheMomentItStartsStops) {
    for (int i = 0; i < 20; ++i) {
        StopServer();
        StartServer();
    }
}

TEST_P(ReservationTest, StationsReservingAtOnceNeverShareANumber) {
    std::vector<std::thread> stations;
    std::mutex mutex;
    std::multiset<std::string> held;
    for (int s = 0; s < 8; ++s) {
        stations.emplace_back([&, s] {
            for (int i = 0; i < 15; ++i) {
                const Reply reply = Reserve("COM" + std::to_string(s + 1));
                ASSERT_EQ(reply.Status, 201) << reply.Body;
                const std::int64_t id = reply.Body["id"].get<std::int64_t>();
                const char* how = i % 3 == 0 ? "released" : i % 3 == 1 ? "used" : "spoiled";
                {
                    std::lock_guard lock(mutex);
                    if (std::string(how) != "released") {
                        held.insert(reply.Body["serial"].get<std::string>());
                    }
                }
                ASSERT_EQ(End(id, how).Status, 200);
            }
        });
    }
    for (std::thread& station : stations) {
        station.join();
    }
    std::set<std::string> distinct(held.begin(), held.end());
    EXPECT_EQ(distinct.size(), held.size());
    EXPECT_EQ(held.size(), 80u);
    // Released numbers were taken again before new ones: the counter went no further than the
    // numbers kept plus those released at the end.
    const Json pool = Get("/api/v1/pools/widget").Body;
    EXPECT_EQ(pool["used"].get<int>() + pool["spoiled"].get<int>(), 80);
    EXPECT_LE(std::stoll(pool["next"].get<std::string>()), 1000 + 80 + pool["released"].get<int>());
}

INSTANTIATE_FOR_ENGINES(ReservationTest);
