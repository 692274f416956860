// A station's side of the line server, against a real one: a board's number reserved, its lease
// renewed, its write told before its bytes go out and its end sent with the board's record; what
// a server away did not get kept in the spool and pushed later; the station's state.

#include "tests/server/LineFixture.h"

#include "line/LinePush.h"
#include "line/LineSerialStore.h"
#include "line/SerialJournal.h"
#include "line/StationReporter.h"
#include "server/Tokens.h"

#include <gmock/gmock.h>

#include <chrono>
#include <thread>

using testing::HasSubstr;

namespace {

class LineClientTest : public LineFixture {
protected:
    LineSettings Settings(int leaseSeconds = 60) const {
        return {Url(), "widget", station_, "bench-3", leaseSeconds, folder_.File("spool.jsonl")};
    }
    std::unique_ptr<LineSerialStore> Store(const LineSettings& settings) const {
        std::string why;
        return std::make_unique<LineSerialStore>(settings, *ParseLineAddress(settings.Url, why),
                                                 [] { return false; });
    }
    Json Reservation(std::int64_t id) const {
        return Get("/api/v1/reservations/" + std::to_string(id)).Body;
    }
    // The newest reservation's id.
    std::int64_t Newest() const {
        return Get("/api/v1/reservations?limit=1").Body.at(0)["id"].get<std::int64_t>();
    }
    Json Records(const std::string& serial) const {
        return Get("/api/v1/records?serial=" + serial).Body;
    }
    SpoolContent Spooled() const {
        SpoolContent content;
        std::string why;
        EXPECT_TRUE(LineSpool(folder_.File("spool.jsonl")).Read(content, why)) << why;
        return content;
    }
};

nlohmann::ordered_json Board(const std::string& id, const std::optional<std::string>& serial,
                             int exitStatus) {
    return {{"id", id},
            {"time", "2026-12-08T20:00:00Z"},
            {"port", "COM3"},
            {"exit_status", exitStatus},
            {"serial", serial ? nlohmann::ordered_json(*serial) : nullptr}};
}

} // namespace

TEST_P(LineClientTest, ABoardsNumberIsRenewedToldWrittenAndUsedWithItsRecord) {
    auto store = Store(Settings(3));
    std::string value, why;
    ASSERT_TRUE(store->Reserve("COM3", value, why)) << why;
    EXPECT_EQ(value, "1000");
    const std::int64_t id = Newest();
    Json reservation = Reservation(id);
    EXPECT_EQ(reservation["port"], "COM3");
    EXPECT_EQ(reservation["station"], "bench-3");
    const std::string leaseEnd = reservation["lease_end"].get<std::string>();
    // Renewed every second: after four the first lease would have run out.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    reservation = Reservation(id);
    EXPECT_EQ(reservation["state"], "open");
    EXPECT_GT(reservation["lease_end"].get<std::string>(), leaseEnd);
    EXPECT_EQ(reservation["written"], false);
    ASSERT_TRUE(store->Writing(why)) << why;
    EXPECT_EQ(Reservation(id)["written"], true);
    const auto record = Board("bench-3-a1", value, 0);
    ASSERT_TRUE(store->End(value, JournalEvent::Used, "", &record, why)) << why;
    ASSERT_TRUE(store->Record(record, why)); // went with the end: not sent twice
    reservation = Reservation(id);
    EXPECT_EQ(reservation["state"], "used");
    EXPECT_EQ(reservation["record_id"], "bench-3-a1");
    EXPECT_EQ(Records("1000").size(), 1u);
    EXPECT_EQ(folder_.Read("spool.jsonl"), "");
}

TEST_P(LineClientTest, AFailedBoardReleasesItsNumberUnlessWrittenAndItsRecordIsKept) {
    std::string value, why;
    auto first = Store(Settings());
    ASSERT_TRUE(first->Reserve("COM3", value, why)) << why;
    const auto failed = Board("bench-3-b1", std::nullopt, 3);
    ASSERT_TRUE(first->End(value, JournalEvent::Released, "", &failed, why)) << why;
    EXPECT_EQ(Reservation(Newest())["state"], "released");

    auto second = Store(Settings());
    ASSERT_TRUE(second->Reserve("COM3", value, why)) << why;
    EXPECT_EQ(value, "1000"); // released, so given again
    ASSERT_TRUE(second->Writing(why)) << why;
    const auto mismatch = Board("bench-3-b2", std::nullopt, 4);
    ASSERT_TRUE(second->End(value, JournalEvent::Spoiled, "", &mismatch, why)) << why;
    EXPECT_EQ(Reservation(Newest())["state"], "spoiled");

    // A board that failed before it took a number: its record alone.
    auto third = Store(Settings());
    ASSERT_TRUE(third->Record(Board("bench-3-b3", std::nullopt, 1), why)) << why;
    ASSERT_TRUE(third->Reserve("COM3", value, why)) << why;
    EXPECT_EQ(value, "1001");
    const std::string records = Get("/api/v1/records").Body.dump();
    for (const char* id : {"bench-3-b1", "bench-3-b2", "bench-3-b3"}) {
        EXPECT_THAT(records, HasSubstr(id));
    }
}

// The server stops after a board's number was written: the board's end waits in the spool,
// and a push to the server that comes back delivers it. Ends it no longer takes are mended
// (released after the write: spoiled) or set aside (a record id that holds another record).
TEST_P(LineClientTest, WhatAServerAwayDidNotGetWaitsInTheSpoolUntilPushed) {
    std::string value, why;
    auto store = Store(Settings());
    ASSERT_TRUE(store->Reserve("COM3", value, why)) << why;
    const std::int64_t used = Newest();
    ASSERT_TRUE(store->Writing(why)) << why;
    auto other = Store(Settings());
    ASSERT_TRUE(other->Reserve("COM4", value, why)) << why;
    const std::int64_t written = Newest();
    ASSERT_TRUE(other->Writing(why)) << why;
    ASSERT_EQ(Post("/api/v1/records", Board("bench-3-c9", std::nullopt, 1)).Status, 201);
    StopServer();

    const auto passed = Board("bench-3-c1", "1000", 0);
    ASSERT_TRUE(store->End("1000", JournalEvent::Used, "", &passed, why)) << why;
    EXPECT_EQ(Spooled().Waiting.size(), 1u);
    // A released end for a number the server heard was written, and a record id taken already.
    const auto failed = Board("bench-3-c2", std::nullopt, 4);
    ASSERT_TRUE(other->End("1001", JournalEvent::Released, "", &failed, why)) << why;
    ASSERT_TRUE(other->Record(failed, why));
    ASSERT_TRUE(LineSpool(folder_.File("spool.jsonl"))
                    .Append({{NewSpoolId(), "http://127.0.0.1:1", SpoolKind::Record, 0,
                              Board("bench-3-c9", "7", 0)}},
                            why));
    EXPECT_EQ(Spooled().Waiting.size(), 4u);

    const LineSpool spool(folder_.File("spool.jsonl"));
    PushReport away = PushSpool(spool, station_, "");
    EXPECT_EQ(away.Sent, 0u);
    EXPECT_EQ(away.Left, 4u);
    EXPECT_THAT(away.Away, HasSubstr("cannot be reached"));

    StartServer();
    const PushReport pushed = PushSpool(spool, station_, Url());
    EXPECT_EQ(pushed.Sent, 3u);
    EXPECT_EQ(pushed.SetAside, 1u);
    EXPECT_EQ(pushed.Left, 0u);
    EXPECT_THAT(testing::PrintToString(pushed.Notes), HasSubstr("it was spoiled instead"));
    EXPECT_EQ(Reservation(used)["state"], "used");
    EXPECT_EQ(Reservation(written)["state"], "spoiled");
    EXPECT_EQ(Records("1000").size(), 1u);
    EXPECT_THAT(folder_.Read("spool.jsonl.refused"), HasSubstr("bench-3-c9"));
    EXPECT_EQ(folder_.Read("spool.jsonl"), "");
    EXPECT_EQ(PushSpool(spool, station_, Url()).Sent, 0u);
}

// A station's state reaches the server at once when it changes, and again every period while
// nothing changes, so that a page never takes a quiet station for gone.
TEST_P(LineClientTest, AStationsStateIsSentWhenItChangesAndWhileNothingDoes) {
    std::string why;
    const auto position = [](const std::string& state) {
        return nlohmann::json{
            {"project", "widget-rev-c"},
            {"firmware", "widget.hex"},
            {"firmware_hash", "9f2c1a2b3c4d"},
            {"positions", {{{"position", 1}, {"port", "COM3"}, {"state", state}}}}};
    };
    const auto seen = [this] {
        const Json stations = Get("/api/v1/stations").Body;
        return stations.empty() ? Json() : stations.at(0);
    };
    {
        StationReporter reporter(LineClient(*ParseLineAddress(Url(), why), station_), "bench-3",
                                 std::chrono::milliseconds(300));
        reporter.Report(position("waiting"));
        reporter.Report(position("flashing"));
        for (int i = 0; i < 200 && seen()["positions"][0]["state"] != "flashing"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(seen()["positions"][0]["state"], "flashing");
        const std::string first = seen()["last_seen"];
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        EXPECT_GE(reporter.Sent(), 2);
        EXPECT_GT(seen()["last_seen"].get<std::string>(), first);
        // The last state goes out as the station stops.
        reporter.Report(position("pass"));
    }
    EXPECT_EQ(seen()["name"], "bench-3");
    EXPECT_EQ(seen()["positions"][0]["state"], "pass");
}

INSTANTIATE_TEST_SUITE_P(Sqlite, LineClientTest, testing::Values("sqlite"),
                         [](const auto& engine) { return engine.param; });
