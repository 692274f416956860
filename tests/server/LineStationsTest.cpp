// Stations against the line server, as processes: tervix-flash runs of several boards each on
// tervix-sim boards, their numbers from one pool. Every number once, on its board and in its
// record, every record in the database; a station killed leaves leases that end spoiled; a
// server killed in the middle of a run loses no record and gives no number twice, also with two
// servers on one PostgreSQL database.

#include "tests/cli/SerialFixture.h"
#include "tests/server/LineFixture.h"

#include "server/Pools.h"
#include "server/Tokens.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <set>
#include <thread>

using testing::HasSubstr;

namespace {

// The numbers' place and format, as the boards' bytes are read back below.
const std::vector<std::string> Place = {"--serial-at", "eeprom:0x10", "--serial-format", "u32le"};

class LineStationsTest : public SerialTest {
protected:
    // A database with the pool "widget" from 1000 and a station's token in the file "token".
    void MakeLine(const std::string& engine) {
        url_ = NewDatabaseUrl(engine, folder_);
        ASSERT_FALSE(url_.empty());
        auto db = OpenDatabase(url_);
        AddCounterPool(*db, "widget", 1000, 1);
        token_ = AddToken(*db, "bench-3", TokenRole::Station);
        folder_.Create("token", token_ + "\n");
    }

    // flash on the ports of the ports folder, numbers from server's pool, records in r.jsonl.
    std::unique_ptr<ChildProcess> Station(const std::string& ports, const std::string& server,
                                          const std::vector<std::string>& boards,
                                          const std::vector<std::string>& more = {},
                                          bool ownGroup = false) {
        std::vector<std::string> args{
            "flash", ExampleHex(),  "--fast", "--record",          "r.jsonl", "--line",
            server,  "--line-pool", "widget", "--line-token-file", "token"};
        args.insert(args.end(), Place.begin(), Place.end());
        for (const std::string& board : boards) {
            args.insert(args.end(), {"--port", board});
        }
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<ChildProcess>("tervix-flash", args, folder_.Path(),
                                              std::vector<std::string>{"TERVIX_PORTS=" + ports},
                                              "/dev/null", ownGroup);
    }

    nlohmann::json Get(int port, const std::string& path) const {
        return Request(port, "GET", path, "", token_).Body;
    }

    // The reservations of the pool once at least count of them match, within 30 s.
    nlohmann::json AwaitReservations(int port, std::size_t count,
                                     const std::function<bool(const nlohmann::json&)>& match) {
        nlohmann::json found;
        for (int i = 0; i < 1500; ++i) {
            found = nlohmann::json::array();
            for (const nlohmann::json& reservation : Get(port, "/api/v1/reservations")) {
                if (match(reservation)) {
                    found.push_back(reservation);
                }
            }
            if (found.size() >= count) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_GE(found.size(), count) << found;
        return found;
    }

    // Every record of r.jsonl passed, is on the server and names a number no other names, and
    // each board holds the number of its last record; how many records there are.
    std::size_t CheckRecords(int port, std::map<std::string, SimBoard*>& byDevice) {
        const nlohmann::json stored = Get(port, "/api/v1/records?limit=1000");
        std::set<std::string> ids;
        for (const nlohmann::json& record : stored) {
            ids.insert(record["id"].get<std::string>());
        }
        std::set<std::string> serials;
        std::map<SimBoard*, std::string> last;
        const std::vector<nlohmann::json> lines = Lines(folder_.Read("r.jsonl"));
        for (const nlohmann::json& record : lines) {
            EXPECT_TRUE(ids.contains(record["id"].get<std::string>())) << record;
            EXPECT_EQ(record["exit_status"], 0) << record;
            const std::string serial = record["serial"];
            EXPECT_TRUE(serials.insert(serial).second) << serial << " twice";
            last[byDevice.at(record["device_path"].get<std::string>())] = serial;
        }
        for (const auto& [board, serial] : last) {
            board->Stop();
            EXPECT_EQ(board->Bytes(EepromBase + 0x10, 4),
                      U32le(static_cast<std::uint32_t>(std::stoul(serial))))
                << serial;
        }
        EXPECT_EQ(stored.size(), lines.size());
        return lines.size();
    }

    std::string url_;
    std::string token_;
};

const std::vector<std::string> FourBoards = {"COM3", "COM4", "COM5", "COM6"};

} // namespace

TEST_F(LineStationsTest, FourStationsOfFourBoardsTakeEveryNumberOnce) {
    MakeLine("sqlite");
    LineProcess server(folder_.Path().string(), url_);
    std::map<std::string, SimBoard*> byDevice;
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const std::string station : {"a", "b", "c", "d"}) {
        runs.push_back(Station(SerialTest::Station(station, byDevice), server.Url(), FourBoards));
    }
    for (const auto& run : runs) {
        EXPECT_EQ(run->Wait(ProcessTimeoutMs), 0) << run->Err();
    }
    EXPECT_EQ(CheckRecords(server.Port(), byDevice), 16u);
    const nlohmann::json pool = Get(server.Port(), "/api/v1/pools/widget");
    EXPECT_EQ(pool["next"], "1016");
    EXPECT_EQ(pool["used"], 16);
    EXPECT_EQ(pool["open"], 0);
    EXPECT_EQ(folder_.Read("line-spool.jsonl"), "");
}

// A board that cannot have a number is not erased, and the run says why; the record of its
// failure waits in the spool while the server is away or refuses the token, and line push
// sends it later.
TEST_F(LineStationsTest, ABoardWithoutANumberIsNotErasedAndTheReasonNamed) {
    MakeLine("sqlite");
    LineProcess server(folder_.Path().string(), url_);
    SimBoard& board = AddBoard("COM3");
    folder_.Create("wrong", "tvx_0\n");
    AddListPool(*OpenDatabase(url_), "labels", {"A-1"});
    Request(server.Port(), "POST", "/api/v1/pools/labels/reservations", R"({"port":"COM9"})",
            token_);
    const std::vector<std::string> line = {"--line", server.Url(), "--line-token-file", "token"};
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string why;
    };
    for (const Case& c : std::vector<Case>{
             {{"--line", "http://127.0.0.1:1", "--line-pool", "widget", "--line-token-file",
               "token"},
              2,
              "no serial number from the pool widget: the line server http://127.0.0.1:1 cannot "
              "be reached: no connection"},
             {{"--line", server.Url(), "--line-pool", "nothing", "--line-token-file", "token"},
              2,
              "no pool named nothing (HTTP 404); COM3 was not erased"},
             {{"--line", server.Url(), "--line-pool", "labels", "--line-token-file", "token"},
              2,
              "the pool labels has no numbers left (HTTP 409); COM3 was not erased"},
             {{"--line", server.Url(), "--line-pool", "widget", "--line-token-file", "wrong"},
              2,
              "the token is not valid (HTTP 401); COM3 was not erased"},
             {{"--line", server.Url(), "--line-pool", "widget", "--serial-counter", "c.txt"},
              64,
              "--serial-counter excludes --line-pool"},
             {{"--line", server.Url(), "--line-pool", "widget"},
              64,
              "set TERVIX_LINE_TOKEN or give --line-token-file FILE"},
             {{"--line", "line:8470", "--line-pool", "widget"},
              64,
              "must start with http:// or https://"},
         }) {
        std::vector<std::string> args{"flash", ExampleHex(), "--port", "COM3"};
        args.insert(args.end(), Place.begin(), Place.end());
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Run run = Flash(args);
        EXPECT_EQ(run.Status, c.status) << c.why << ": " << run.Err;
        EXPECT_THAT(run.Err, HasSubstr(c.why));
    }
    board.Stop();
    EXPECT_EQ(board.Stat("erase_program"), 0u);

    const Run away = Flash({"line", "push", "--line-token-file", "token"});
    EXPECT_EQ(away.Status, 1) << away.Err;
    EXPECT_THAT(away.Out, HasSubstr("line-spool.jsonl: 0 sent, 0 set aside, 2 left"));
    const Run pushed = Flash(
        {"line", "push", "line-spool.jsonl", "--line", server.Url(), "--line-token-file", "token"});
    EXPECT_EQ(pushed.Status, 0) << pushed.Err;
    EXPECT_THAT(pushed.Out, HasSubstr("2 sent, 0 set aside, 0 left"));
    const nlohmann::json failed = Get(server.Port(), "/api/v1/records?result=fail");
    EXPECT_EQ(failed.size(), 4u) << failed;
    EXPECT_EQ(Get(server.Port(), "/api/v1/pools/widget")["open"], 0);
}

// A station and its boards' processes killed at once: no end comes, the leases run out, and
// the numbers are spoiled by the server and never given again.
TEST_F(LineStationsTest, AStationKilledLeavesLeasesThatEndSpoiled) {
    MakeLine("sqlite");
    LineProcess server(folder_.Path().string(), url_);
    AddBoard("COM3", {"--pace"});
    AddBoard("COM4", {"--pace"});
    const auto run = Station(ports_, server.Url(), {"COM3", "COM4"}, {"--line-lease", "3"}, true);
    AwaitReservations(server.Port(), 2,
                      [](const nlohmann::json& r) { return r["state"] == "open"; });
    run->SignalGroup(SIGKILL);
    run->Wait(ProcessTimeoutMs);
    const nlohmann::json spoiled = AwaitReservations(server.Port(), 2, [](const nlohmann::json& r) {
        return r["state"] == "spoiled" && r["spoiled_by"] == "lease";
    });
    const auto again = Station(ports_, server.Url(), {"COM3", "COM4"});
    EXPECT_EQ(again->Wait(ProcessTimeoutMs), 0) << again->Err();
    std::set<std::string> given;
    for (const nlohmann::json& record : Lines(folder_.Read("r.jsonl"))) {
        given.insert(record["serial"].get<std::string>());
    }
    EXPECT_EQ(given, (std::set<std::string>{"1002", "1003"}));
    EXPECT_EQ(Get(server.Port(), "/api/v1/pools/widget")["spoiled"], 2);
}

// A station whose project names the server: each board's number from the pool, reserved in the
// station's name; the station's state on the server, each position passed with its number.
TEST_F(LineStationsTest, AStationOfTheProjectTakesItsNumbersAndShowsItsState) {
    MakeLine("sqlite");
    LineProcess server(folder_.Path().string(), url_);
    folder_.Create("fw.hex", RowsHex(2, 7));
    folder_.Create("line.toml", "name = \"widget\"\n[firmware]\nfile = \"fw.hex\"\nfast = true\n"
                                "[serial]\nat = \"eeprom:0x10\"\nformat = \"u32le\"\n"
                                "[records]\nfile = \"r.jsonl\"\n[station]\nname = \"bench-3\"\n"
                                "ports = [\"COM3\", \"COM4\"]\n[line]\nurl = \"" +
                                    server.Url() + "\"\npool = \"widget\"\n");
    ASSERT_EQ(Flash({"project", "lock", "line.toml"}).Status, 0);
    auto station = StartFlash(
        {"station", "line.toml", "--plain", "--until", "2", "--line-token-file", "token"});
    for (const std::string waiting : {"1 COM3: waiting for", "2 COM4: waiting for"}) {
        ASSERT_TRUE(station->AwaitOutput(waiting, ProcessTimeoutMs)) << station->Err();
    }
    std::map<std::string, SimBoard*> byDevice;
    for (const std::string port : {"COM3", "COM4"}) {
        SimBoard& board = AddBoard(port);
        byDevice[board.Device()] = &board;
    }
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 0) << station->Out() << station->Err();
    EXPECT_EQ(CheckRecords(server.Port(), byDevice), 2u);
    for (const nlohmann::json& reservation : Get(server.Port(), "/api/v1/reservations")) {
        EXPECT_EQ(reservation["station"], "bench-3");
        EXPECT_EQ(reservation["state"], "used");
    }
    const nlohmann::json state = Get(server.Port(), "/api/v1/stations").at(0);
    EXPECT_EQ(state["name"], "bench-3");
    EXPECT_EQ(state["project"], "widget");
    std::set<std::string> shown;
    for (const nlohmann::json& position : state["positions"]) {
        EXPECT_EQ(position["state"], "pass") << state;
        shown.insert(position["serial"].get<std::string>());
    }
    EXPECT_EQ(shown, (std::set<std::string>{"1000", "1001"}));
}

struct RestartCase {
    std::string engine;
    int servers;
};

class LineStationsRestartTest : public LineStationsTest,
                                public testing::WithParamInterface<RestartCase> {};

// Four paced boards; with two servers, two on each. The first server is killed once one of its
// boards' numbers is being written and started again on its port 1.5 s later: ends that came
// meanwhile wait in the spool, which the same station, started again, sends first.
TEST_P(LineStationsRestartTest, AServerKilledInTheMiddleOfARunLosesNoRecordAndGivesNoNumberTwice) {
    MakeLine(GetParam().engine);
    const std::string folder = folder_.Path().string();
    auto first = std::make_unique<LineProcess>(folder, url_);
    const int port = first->Port();
    std::unique_ptr<LineProcess> second;
    if (GetParam().servers == 2) {
        second = std::make_unique<LineProcess>(folder, url_);
    }
    std::map<std::string, SimBoard*> byDevice;
    for (const std::string& board : FourBoards) {
        SimBoard& added = AddBoard(board, {"--pace"});
        byDevice[added.Device()] = &added;
    }
    const std::vector<std::string> onFirst(FourBoards.begin(), FourBoards.end() - (second ? 2 : 0));
    const std::vector<std::string> onSecond(FourBoards.end() - (second ? 2 : 0), FourBoards.end());
    const auto runs = [&] {
        std::vector<std::unique_ptr<ChildProcess>> started;
        started.push_back(Station(ports_, first->Url(), onFirst));
        if (second) {
            started.push_back(Station(ports_, second->Url(), onSecond));
        }
        return started;
    };
    auto during = runs();
    AwaitReservations(port, 1, [&](const nlohmann::json& r) {
        return r["written"] == true &&
               std::find(onFirst.begin(), onFirst.end(), r["port"]) != onFirst.end();
    });
    first->Process().Signal(SIGKILL);
    first->Process().Wait(ProcessTimeoutMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    first = std::make_unique<LineProcess>(folder, url_, std::vector<std::string>{},
                                          "127.0.0.1:" + std::to_string(port));
    for (const auto& run : during) {
        EXPECT_EQ(run->Wait(ProcessTimeoutMs), 0) << run->Err();
    }
    for (const auto& run : runs()) {
        EXPECT_EQ(run->Wait(ProcessTimeoutMs), 0) << run->Err();
    }
    EXPECT_EQ(CheckRecords(port, byDevice), 8u);
    const nlohmann::json pool = Get(port, "/api/v1/pools/widget");
    EXPECT_EQ(pool["used"], 8);
    EXPECT_EQ(pool["open"], 0);
    EXPECT_EQ(folder_.Read("line-spool.jsonl"), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, LineStationsRestartTest,
                         testing::Values(RestartCase{"sqlite", 1}, RestartCase{"postgresql", 2}),
                         [](const auto& c) { return c.param.engine; });
