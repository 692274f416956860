// Records, yield, a board's history, the stations' states and the event stream through the API,
// on both engines.

#include "tests/server/LineFixture.h"

namespace {

class RecordTest : public LineFixture {
protected:
    void PostRecords(const std::vector<Json>& records) {
        for (const Json& record : records) {
            const Reply reply = Post("/api/v1/records", record);
            ASSERT_EQ(reply.Status, 201) << reply.Body;
        }
    }
    // The ids of what GET path answers, in its order.
    std::vector<std::string> Ids(const std::string& path) const {
        std::vector<std::string> ids;
        for (const Json& record : Get(path).Body) {
            ids.push_back(record["id"].get<std::string>());
        }
        return ids;
    }
};

Json At(Json record, const std::string& station, const std::string& port, const std::string& lot) {
    record["station"] = station;
    record["port"] = port;
    record["tags"]["lot"] = lot;
    return record;
}

} // namespace

TEST_P(RecordTest, ARecordSentAgainChangesNothingAndAnIdHoldsOneRecord) {
    const Json record = BoardRecord("bench-3-0001", "1000", 0);
    EXPECT_EQ(Post("/api/v1/records", record).Body,
              Json({{"id", "bench-3-0001"}, {"stored", true}}));
    const Reply again = Post("/api/v1/records", record);
    EXPECT_EQ(again.Status, 200);
    EXPECT_EQ(again.Body["stored"], false);
    Json other = record;
    other["exit_status"] = 4;
    EXPECT_EQ(Post("/api/v1/records", other).Status, 409);
    EXPECT_EQ(Rows("records"), 1);
    // Kept as sent, with the station named after the token when the record names none.
    const Json stored = Get("/api/v1/records").Body.at(0);
    EXPECT_EQ(stored["station"], "bench-3");
    EXPECT_EQ(stored["result"], record["result"]);
}

TEST_P(RecordTest, RecordsAreFoundByEachFilterNewestFirst) {
    PostRecords({
        At(BoardRecord("a", "1000", 0, "2026-12-07T08:00:00Z"), "bench-1", "COM3", "L1"),
        At(BoardRecord("b", nullptr, 4, "2026-12-07T09:00:00Z"), "bench-1", "COM4", "L1"),
        At(BoardRecord("c", "1001", 0, "2026-12-07T10:00:00.5Z"), "bench-2", "COM3", "L2"),
        At(BoardRecord("d", "1000", 0, "2026-12-08T08:00:00Z"), "bench-2", "COM3", "L2"),
    });
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {"d", "c", "b", "a"}},
        {"station=bench-1", {"b", "a"}},
        {"port=COM3", {"d", "c", "a"}},
        {"serial=1000", {"d", "a"}},
        {"lot=L2", {"d", "c"}},
        {"result=fail", {"b"}},
        {"result=pass&station=bench-2", {"d", "c"}},
        {"since=2026-12-07T09:00:00Z", {"d", "c", "b"}},
        {"until=2026-12-07T10:00:00.5Z", {"b", "a"}},
        {"since=2026-12-07T00:00:00Z&until=2026-12-08T00:00:00Z&limit=2", {"c", "b"}},
        {"station=nobody", {}},
    };
    for (const auto& [query, ids] : cases) {
        EXPECT_EQ(Ids("/api/v1/records?" + query), ids) << query;
    }
}

// A board is counted once: by its serial number, or each record without one on its own.
TEST_P(RecordTest, YieldCountsBoardsOnceAndTheirFirstPass) {
    PostRecords({
        At(BoardRecord("a", "1000", 0, "2026-12-07T08:10:00Z"), "bench-1", "COM3", "L1"),
        At(BoardRecord("b", nullptr, 4, "2026-12-07T08:20:00Z"), "bench-1", "COM4", "L1"),
        At(BoardRecord("c", "1001", 3, "2026-12-07T09:05:00Z"), "bench-2", "COM3", "L2"),
        At(BoardRecord("d", "1001", 0, "2026-12-07T09:15:00Z"), "bench-2", "COM3", "L2"),
        At(BoardRecord("e", "1002", 0, "2026-12-07T09:25:00Z"), "bench-2", "COM4", "L2"),
        At(BoardRecord("f", "1003", 0, "2026-12-08T09:25:00Z"), "bench-2", "COM4", "L2"),
    });
    const std::string day = "&since=2026-12-07T00:00:00Z&until=2026-12-08T00:00:00Z";
    const Json byStation = Get("/api/v1/yield?by=station" + day).Body;
    ASSERT_EQ(byStation.size(), 2u) << byStation;
    EXPECT_EQ(byStation[0], Json::parse(R"({"station":"bench-1","passed":1,"failed":1,"boards":2,
        "first_pass":1,"first_pass_yield":0.5})"));
    EXPECT_EQ(byStation[1]["boards"], 2);
    EXPECT_EQ(byStation[1]["first_pass"], 1);
    EXPECT_EQ(byStation[1]["passed"], 2);
    const Json byHour = Get("/api/v1/yield?by=hour" + day).Body;
    ASSERT_EQ(byHour.size(), 2u) << byHour;
    EXPECT_EQ(byHour[1]["hour"], "2026-12-07T09:00:00.000Z");
    EXPECT_EQ(byHour[1]["failed"], 1);
    const Json byLot = Get("/api/v1/yield?by=lot&lot=L1" + day).Body;
    ASSERT_EQ(byLot.size(), 1u) << byLot;
    EXPECT_EQ(byLot[0]["lot"], "L1");
}

TEST_P(RecordTest, ABoardsHistoryHoldsItsRecordsAndSerialEvents) {
    const std::int64_t first = Reserve("COM3").Body["id"].get<std::int64_t>();
    End(first, "released");
    const std::int64_t second = Reserve("COM4").Body["id"].get<std::int64_t>();
    End(second, "used");
    const Json history = Get("/api/v1/serials/1000").Body;
    ASSERT_EQ(history["records"].size(), 1u) << history;
    EXPECT_EQ(history["records"][0]["id"], "rec-" + std::to_string(second));
    std::vector<std::string> events;
    for (const Json& event : history["events"]) {
        events.push_back(event["event"].get<std::string>() + " " +
                         event["port"].get<std::string>());
    }
    EXPECT_EQ(events, (std::vector<std::string>{"reserved COM3", "released COM3", "reserved COM4",
                                                "used COM4"}));
}

TEST_P(RecordTest, StationsReportTheirPositionsAndAreListedWithWhenTheyWereSeen) {
    const Json report = Json::parse(R"({"project": "widget-rev-c", "firmware": "widget.hex",
        "firmware_hash": "9f2c1a2b3c4d", "positions": [
        {"position": 1, "port": "COM3", "state": "flashing", "stage": "writing", "percent": 40},
        {"position": 2, "port": "COM4", "state": "pass", "serial": "1001", "seconds": 3.2}]})");
    const Reply put = Call("PUT", "/api/v1/stations/bench-3", report.dump(), station_);
    ASSERT_EQ(put.Status, 200) << put.Body;
    const Json stations = Get("/api/v1/stations").Body;
    ASSERT_EQ(stations.size(), 1u);
    EXPECT_EQ(stations[0]["name"], "bench-3");
    EXPECT_EQ(stations[0]["positions"], report["positions"]);
    EXPECT_LE(stations[0]["seconds_since_seen"], 1);
}

TEST_P(RecordTest, TheEventStreamTellsChangesAndWhatAListenerMissed) {
    {
        EventListener live(server_->Port(), "token=" + viewer_);
        // The stream is open once a change made now reaches it.
        bool heard = false;
        for (int i = 0; i < 20 && !heard; ++i) {
            Call("PUT", "/api/v1/stations/bench-3",
                 R"({"project":"p","firmware":"f","firmware_hash":"h","positions":[]})", station_);
            heard = live.Await("event: station\n", 1);
        }
        ASSERT_TRUE(heard) << live.Text();
        const std::int64_t id = Reserve().Body["id"].get<std::int64_t>();
        End(id, "used");
        EXPECT_TRUE(live.Await("event: record\n")) << live.Text();
        EXPECT_TRUE(live.Await("\"state\":\"used\"")) << live.Text();
    }
    // Coming back after event 0: everything the feed holds, in order.
    EventListener back(server_->Port(), "token=" + viewer_ + "&after=0");
    ASSERT_TRUE(back.Await("\"state\":\"used\"")) << back.Text();
    const std::string text = back.Text();
    EXPECT_LT(text.find("event: station"), text.find("\"state\":\"open\""));
    EXPECT_LT(text.find("\"state\":\"open\""), text.find("event: record"));
    EXPECT_NE(text.find("id: 1\n"), std::string::npos) << text;
}

INSTANTIATE_FOR_ENGINES(RecordTest);
