// What a station stands on: the lot's counters, each board counted once from record lines, a
// waiting position's look at its port as boards come and go, and when a position takes a board
// for a new one.

#include "line/Station.h"
#include "line/LotCounters.h"
#include "line/PortWatch.h"

#include "tests/support/CaseName.h"
#include "tests/support/PortsFolder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

namespace {

struct CountCase {
    std::string name;
    std::vector<std::string> records; // JSON objects, in the order they were written
    std::size_t passed;
    std::size_t failed;
    std::size_t firstPass;

    friend void PrintTo(const CountCase& c, std::ostream* out) { *out << c.name; }
};

class LotCount : public testing::TestWithParam<CountCase> {};

} // namespace

TEST_P(LotCount, CountsEachBoardOnce) {
    const CountCase& c = GetParam();
    LotCounters counters;
    for (const std::string& record : c.records) {
        counters.Add(nlohmann::json::parse(record));
    }
    EXPECT_EQ(counters.Counts().Passed, c.passed);
    EXPECT_EQ(counters.Counts().Failed, c.failed);
    EXPECT_EQ(counters.Counts().FirstPass, c.firstPass);
}

INSTANTIATE_TEST_SUITE_P(
    Records, LotCount,
    testing::Values(
        CountCase{"BoardsBySerialNumber",
                  {R"({"exit_status":0,"serial":"1000"})", R"({"exit_status":0,"serial":"1001"})",
                   R"({"exit_status":0,"serial":"1000"})"},
                  2,
                  0,
                  2},
        CountCase{"AFailedBoardByItsPortAndTime",
                  {R"({"exit_status":4,"port":"COM3","time":"T1"})",
                   R"({"exit_status":4,"port":"COM3","time":"T2"})",
                   R"({"exit_status":4,"port":"COM4","time":"T2"})",
                   R"({"exit_status":4,"port":"COM3","time":"T1"})"},
                  0,
                  3,
                  0},
        // A board that kept its number came back: it passed, but not the first time.
        CountCase{"ARetryByTheNumberItKept",
                  {R"({"exit_status":4,"serial":null,"serial_unverified":"1005"})",
                   R"({"exit_status":0,"serial":"1005","serial_unverified":null})"},
                  1,
                  0,
                  0},
        CountCase{"AFailureAfterAPassLeavesItPassed",
                  {R"({"exit_status":0,"serial":"7"})", R"({"exit_status":5,"serial":"7"})"},
                  1,
                  0,
                  1},
        CountCase{"NotAnObjectIsPassedOver", {R"([1,2])", R"("text")", "null"}, 0, 0, 0}),
    CaseName());

TEST(LotFile, ReadsOnlyItsLotAndOnlyWholeLinesOnFromWhereItStopped) {
    TempFolder folder;
    const std::string path = folder.File("boards.jsonl");
    const auto append = [&path](const std::string& text) {
        std::ofstream(path, std::ios::app | std::ios::binary) << text;
    };
    const std::string lot = R"("command":"flash","project":"w","tags":{"lot":"1","p":"x"})";
    append(R"({"exit_status":0,"serial":"1",)" + lot + "}\n" +
           // Another lot, another project, a verify, a line of an earlier version.
           R"({"exit_status":0,"serial":"2","command":"flash","project":"w","tags":{"lot":"2"}})" +
           "\n" + R"({"exit_status":0,"serial":"3","command":"flash","project":"v","tags":{}})" +
           "\n" + R"({"exit_status":0,"serial":"4","command":"verify","project":"w","tags":{}})" +
           "\n" + R"({"exit_status":0,"serial":"5","command":"flash","tags":{"lot":"1"}})" +
           "\nnot json\n");
    LotFile file(path, "w", nlohmann::json::parse(R"({"p":"x","lot":"1"})"));
    std::string why;
    ASSERT_TRUE(file.ReadNew(why)) << why;
    EXPECT_EQ(file.Counts().Passed, 1u);
    // A line whose write has not all arrived counts once it has.
    append(R"({"exit_status":4,"serial":"6",)");
    ASSERT_TRUE(file.ReadNew(why));
    EXPECT_EQ(file.Counts().Failed, 0u);
    append(lot + "}\n");
    ASSERT_TRUE(file.ReadNew(why));
    EXPECT_EQ(file.Counts().Failed, 1u);
    EXPECT_EQ(file.Counts().FirstPassYield(), 50.0);
    // A file replaced by a shorter one is counted afresh.
    std::ofstream(path, std::ios::trunc) << R"({"exit_status":4,"serial":"9",)" + lot + "}\n";
    ASSERT_TRUE(file.ReadNew(why));
    EXPECT_EQ(file.Counts().Passed, 0u);
    EXPECT_EQ(file.Counts().Failed, 1u);
    EXPECT_FALSE(LotFile(folder.File("gone.jsonl"), "w", {}).ReadNew(why));
}

// A board plugged in (a simulator started on the port's link), another device, a board that only
// listens, and boards taken off: the port held open while the same board answers, opened afresh
// for the next one.
TEST(PortWatch, SeesBoardsComeAndGoOnOnePort) {
    PortsFolder ports;
    const std::string link = ports.File("COM3");
    PortWatch watch("COM3", 115200, 100);
    EXPECT_EQ(watch.Look().Finding, PortFinding::NoDevice);

    auto board = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    ASSERT_TRUE(board->Ok()) << board->Errors();
    for (int look = 0; look < 3; ++look) {
        const ProbedPort seen = watch.Look();
        EXPECT_EQ(seen.Finding, PortFinding::Device);
        EXPECT_EQ(seen.Device, 33);
    }
    board->Stop();
    // The board's end is seen on the port still open, and the next look finds no device.
    const ProbedPort gone = watch.Look();
    EXPECT_EQ(gone.Finding, PortFinding::NoAnswer) << gone.Code;
    EXPECT_EQ(watch.Look().Finding, PortFinding::NoDevice);

    board = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", link, "--device-id", "0x0400"});
    ASSERT_TRUE(board->Ok()) << board->Errors();
    const ProbedPort other = watch.Look();
    EXPECT_EQ(other.Finding, PortFinding::Device);
    EXPECT_EQ(other.Device, 32);
    board->Stop();
    watch.Look();

    board = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link, "--silent"});
    ASSERT_TRUE(board->Ok()) << board->Errors();
    EXPECT_EQ(watch.Look().Finding, PortFinding::NoAnswer);
    EXPECT_EQ(watch.Look().Finding, PortFinding::NoAnswer);
    watch.Release();
    board->Stop();
}

namespace {

// Whether the station comes to what holds within timeoutMs.
bool Becomes(const Station& station, const std::function<bool(const StationSnapshot&)>& holds,
             int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!holds(station.Snapshot())) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

// A board whose answer to one look is lost (every other reply dropped, as on a computer too busy
// to read it in time) is still the board that was flashed, and is not flashed again; silence that
// lasts is a board taken off, and the next board is flashed.
TEST(Station, OneLookWithoutAnAnswerIsNoBoardTakenOff) {
    PortsFolder ports;
    std::atomic<int> jobs{0};
    StationSetup setup;
    setup.Project = "widget";
    setup.Ports = {"COM3"};
    setup.RecordFile = ports.File("boards.jsonl");
    setup.StopSignal = [] { return 0; };
    setup.Job = [&jobs](std::size_t, const std::string&,
                        const std::function<void(const std::string&, int)>&) {
        ++jobs;
        return JobEnd{{{"exit_status", 0}, {"serial", std::to_string(jobs.load())}}, 0, ""};
    };
    Station station(setup);
    station.Start();
    const auto sees = [](const std::string& sight) {
        return [sight](const StationSnapshot& s) { return s.Positions[0].Sight == sight; };
    };
    ASSERT_TRUE(Becomes(station, sees("no device"), 5000));

    auto board = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", ports.File("COM3"), "--drop-every", "2"});
    ASSERT_TRUE(board->Ok()) << board->Errors();
    ASSERT_TRUE(Becomes(
        station, [](const auto& s) { return s.JobsEnded == 1; }, 5000));
    // Twelve looks, every other one unanswered.
    std::this_thread::sleep_for(Station::LookPeriod * 12);
    EXPECT_EQ(jobs, 1);
    EXPECT_EQ(station.Snapshot().Positions[0].State, PositionState::Passed);

    board->Stop();
    ASSERT_TRUE(Becomes(
        station, [](const auto& s) { return s.Positions[0].State == PositionState::Waiting; },
        5000));
    board = std::make_unique<SimProcess>(std::vector<std::string>{"--link", ports.File("COM3")});
    ASSERT_TRUE(board->Ok()) << board->Errors();
    ASSERT_TRUE(Becomes(
        station, [](const auto& s) { return s.JobsEnded == 2; }, 5000));
    EXPECT_EQ(station.Snapshot().Positions[0].Serial, "2");
}
