// Several boards at once against simulated boards: a record of each, verify and erase, a board
// that fails or goes away alone.

#include "link/ComPort.h"
#include "tests/cli/CliFixture.h"
#include "tests/cli/RecordChecks.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using testing::HasSubstr;

TEST_F(CliTest, ThreeBoardsAtOnceEachGetTheFileAFolderAndARecordLine) {
    std::vector<SimBoard*> boards = {&AddBoard("COM3"), &AddBoard("COM4"), &AddBoard("COM5")};
    const Run run = Flash({"flash", ExampleHex(), "--port", "COM3", "--port", "COM4", "--port",
                           "COM5", "--record", Path("boards.jsonl")});
    ASSERT_EQ(run.Status, 0) << run.Err << run.Out;
    EXPECT_THAT(run.Out, HasSubstr("3 boards: 3 succeeded, 0 failed"));
    std::istringstream table(run.Out);
    for (std::string line; std::getline(table, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }

    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("boards.jsonl"));
    ASSERT_EQ(records.size(), 3u);
    std::set<std::string> ports;
    for (const nlohmann::ordered_json& record : records) {
        EXPECT_EQ(KeysOf(record), RecordKeys);
        EXPECT_EQ(record["sha256"], Sha256Of(ReadAll(ExampleHex())));
        EXPECT_EQ(record["file"], ExampleHex());
        EXPECT_EQ(record["command"], "flash");
        EXPECT_EQ(record["device"], 33);
        EXPECT_EQ(record["rows"], 8);
        EXPECT_EQ(record["exit_status"], 0);
        EXPECT_GT(record["requests"].get<int>(), 504);
        ports.insert(record["port"].get<std::string>());
    }
    EXPECT_EQ(ports, (std::set<std::string>{"COM3", "COM4", "COM5"}));
    for (std::size_t i = 0; i < boards.size(); ++i) {
        boards[i]->Stop();
        ExpectProgramHolds(*boards[i], ReadHexImage(ExampleHex()));
        EXPECT_EQ(boards[i]->StatText("mode"), "run");
        // Each board's programming log in a folder of its own, one line per row.
        const std::string log = folder_.Read("COM" + std::to_string(3 + i) + "/temp.log");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
    }
}

TEST_F(CliTest, OneBoardFailingDoesNotStopTheOthers) {
    SimBoard& first = AddBoard("COM3");
    SimBoard& stuck = AddBoard("COM4", {"--stuck", "0x21A=0x00"});
    SimBoard& last = AddBoard("COM5");
    const Run run = Flash({"flash", ExampleHex(), "--all", "--json"});
    EXPECT_EQ(run.Status, 4) << run.Err;
    std::map<std::string, int> statuses;
    for (const nlohmann::ordered_json& record : JsonLines(run.Out)) {
        statuses[record["port"].get<std::string>()] = record["exit_status"].get<int>();
        if (record["port"] == "COM4") {
            EXPECT_THAT(record["result"].get<std::string>(),
                        HasSubstr("verify mismatch at row 0x0210"));
        }
    }
    EXPECT_EQ(statuses, (std::map<std::string, int>{{"COM3", 0}, {"COM4", 4}, {"COM5", 0}}));
    first.Stop();
    stuck.Stop();
    last.Stop();
    ExpectProgramHolds(first, ReadHexImage(ExampleHex()));
    ExpectProgramHolds(last, ReadHexImage(ExampleHex()));
    EXPECT_EQ(stuck.StatText("mode"), "boot");
}

namespace {

struct VerifyCase {
    std::string name;
    std::vector<std::string> board;
    int status;
    std::vector<std::string> errors;
};

class VerifyRun : public CliTest, public testing::WithParamInterface<VerifyCase> {};

} // namespace

TEST_P(VerifyRun, ComparesTheFilesBytesAndWritesNothing) {
    const VerifyCase& c = GetParam();
    SimBoard& board = AddBoard("COM3", c.board);
    const Run run = Flash({"verify", ExampleHex(), "--port", "COM3", "--json"});
    EXPECT_EQ(run.Status, c.status) << run.Err;
    for (const std::string& error : c.errors) {
        EXPECT_THAT(run.Err, HasSubstr(error));
    }
    const std::vector<nlohmann::ordered_json> records = JsonLines(run.Out);
    ASSERT_EQ(records.size(), 1u) << run.Out;
    EXPECT_EQ(records[0]["command"], "verify");
    EXPECT_EQ(records[0]["exit_status"], c.status);
    EXPECT_EQ(records[0]["rows"], 8);
    board.Stop();
    EXPECT_EQ(
        board.Stat("write_program") + board.Stat("write_eeprom") + board.Stat("erase_program"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Verify, VerifyRun,
    testing::Values(
        VerifyCase{"FlashedBoardIsEqual", {"--load", ExampleHex()}, 0, {}},
        // 0x21A holds the example's byte 0x8A.
        VerifyCase{"StuckByteIsNamed",
                   {"--load", ExampleHex(), "--stuck", "0x21A=0x00"},
                   4,
                   {"  0x021A: file 0x8A, board 0x00\n", "1 of ", "bytes differ from",
                    "the first at 0x021A"}},
        VerifyCase{"BlankBoardNamesTenAndCountsTheRest", {}, 4, {"  0x0200: file ", "more\n"}}),
    CaseName());

namespace {

struct EraseCase {
    std::string name;
    std::vector<std::string> range;
    std::string summary;
    std::uint32_t first; // the span left blank
    std::uint32_t last;
};

class EraseRun : public CliTest, public testing::WithParamInterface<EraseCase> {};

} // namespace

// The erased board is left in boot mode, flagged before its first erase.
TEST_P(EraseRun, BlanksTheSpanAndNothingElse) {
    const EraseCase& c = GetParam();
    SimBoard& erased = AddBoard("COM3", {"--load", InRunMode(ExampleHex())});
    SimBoard& untouched = AddBoard("COM4", {"--load", InRunMode(ExampleHex())});
    std::vector<std::string> args{"erase", "--port", "COM3"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const Run run = Flash(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr(c.summary));
    erased.Stop();
    untouched.Stop();
    EXPECT_EQ(erased.StatText("violations"), "0");
    EXPECT_EQ(erased.Stat("erases_in_run_mode"), 0u);
    EXPECT_EQ(erased.StatText("mode"), "boot");
    EXPECT_EQ(untouched.StatText("mode"), "run");
    for (const auto& [address, byte] : erased.Memory()) {
        if (address == EepromBase + 0xFF) {
            continue; // the run-mode flag, above
        }
        if (address >= c.first && address <= c.last) {
            ASSERT_EQ(byte, 0xFF) << "at 0x" << std::hex << address;
        } else {
            ASSERT_EQ(byte, untouched.Memory().at(address)) << "at 0x" << std::hex << address;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Erase, EraseRun,
    testing::Values(
        EraseCase{
            "ApplicationAreaByDefault", {}, "504 blocks erased, 0x200 to 0x7FFF", 0x200, 0x7FFF},
        // The example's code runs from 0x200 to 0x25F: its first 64 bytes stay.
        EraseCase{
            "OneBlock", {"--from", "0x240", "--to", "0x27F"}, "1 block erased", 0x240, 0x27F}),
    CaseName());

TEST_F(CliTest, EveryRunAppendsItsBoardsLineEvenWhenItFails) {
    AddBoard("COM3", {"--device-id", "0x0404"});
    AddBoard("COM4");
    EXPECT_EQ(Flash({"flash", ExampleHex(), "--port", "COM3", "--record", Path("r.jsonl")}).Status,
              1);
    EXPECT_EQ(Flash({"erase", "--port", "COM4", "--record", Path("r.jsonl"), "--quiet"}).Status, 0);
    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["device"], 32);
    EXPECT_EQ(records[0]["exit_status"], 1);
    EXPECT_THAT(records[0]["result"].get<std::string>(), HasSubstr("wrong device on COM3"));
    EXPECT_EQ(records[0]["sha256"], Sha256Of(ReadAll(ExampleHex())));
    EXPECT_EQ(records[1]["command"], "erase");
    EXPECT_EQ(records[1]["device"], 33);
    EXPECT_TRUE(records[1]["file"].is_null());
    EXPECT_TRUE(records[1]["sha256"].is_null());
    // The device read, boot mode written and read back, 504 erase requests.
    EXPECT_EQ(records[1]["requests"], 507);
}

// The board goes away while the run erases it: that board fails on its own, the other finishes.
TEST_F(CliTest, ABoardUnpluggedMidRunFailsAlone) {
    AddBoard("COM3", {"--pace"});
    SimBoard& unplugged = AddBoard("COM4", {"--pace", "--erase-ms", "20"});
    std::unique_ptr<ChildProcess> flash = StartFlash(
        {"flash", ExampleHex(), "--port", "COM3", "--port", "COM4", "--timeout-ms", "300"});
    ASSERT_TRUE(flash->AwaitError("COM4: erase", ProcessTimeoutMs)) << flash->Err();
    unplugged.Stop();
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 3) << flash->Err();
    EXPECT_THAT(flash->Out(), HasSubstr("COM3        33    8"));
    EXPECT_THAT(flash->Out(), HasSubstr("2 boards: 1 succeeded, 1 failed"));
    EXPECT_THAT(flash->Err(), HasSubstr("COM4: FAILED (exit 3): erase failed at 0x"));
}
