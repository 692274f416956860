// How a run ends when something around it goes: a full record file, a stop signal, a closed
// output, a HEX file replaced while the boards are written, a run killed mid-write.

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

namespace {

struct FullRecordCase {
    std::string name;
    std::vector<std::string> ports;
    std::string said; // on standard output, or error for one board
};

class FullRecordRun : public CliTest, public testing::WithParamInterface<FullRecordCase> {};

} // namespace

// /dev/full opens for appending and takes no byte: the boards are flashed, and the run says that
// their records are lost instead of ending well. A number is used only with its record line, so
// each board's number, on the board and verified, is spoiled.
TEST_P(FullRecordRun, SaysTheRecordsWereNotWritten) {
    const FullRecordCase& c = GetParam();
    ASSERT_EQ(Flash({"serial", "init", "c.txt", "--start", "1000"}).Status, 0);
    std::vector<std::string> args{
        "flash",       ExampleHex(),      "--record", "/dev/full",        "--serial-at",
        "eeprom:0x10", "--serial-format", "u16le",    "--serial-counter", "c.txt"};
    for (const std::string& port : c.ports) {
        AddBoard(port);
        args.insert(args.end(), {"--port", port});
    }
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_THAT(run.Out + run.Err, HasSubstr(c.said));
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
    const std::string journal = folder_.Read("c.txt.journal");
    for (std::size_t i = 0; i < c.ports.size(); ++i) {
        EXPECT_EQ(JournalEvents(journal, std::to_string(1000 + i)),
                  (std::vector<std::string>{"reserved", "spoiled"}))
            << journal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FullRecordRun,
    testing::Values(FullRecordCase{"OneBoard",
                                   {"COM3"},
                                   "cannot append to the record /dev/full: No space left on "
                                   "device; the record of COM3 was not written"},
                    FullRecordCase{"TwoBoards",
                                   {"COM3", "COM4"},
                                   "the records of 2 of the 2 boards were not written to "
                                   "/dev/full: No space left on device"}),
    CaseName());

namespace {

// Where the signal goes: the parent's whole process group (a terminal's Ctrl-C), the parent
// alone (a supervisor), or the process of the first board alone.
enum class SignalTo { Group, Parent, FirstBoard };

struct InterruptCase {
    std::string name;
    std::size_t boards; // one runs in the process itself, several in a child each
    int signal;
    SignalTo to;
    int status;         // the run's
    int boardStatus;    // in the record of each board the signal stopped; the others pass
    std::string result; // how the records of those boards begin
};

class InterruptedRun : public CliTest, public testing::WithParamInterface<InterruptCase> {};

} // namespace

// Paced boards are stopped while they erase: each closes its port between two requests, and
// every board gets its record, written by its own process or, for a process killed before it
// could, by the parent.
TEST_P(InterruptedRun, AccountsForEveryBoardAndLeavesNoChild) {
    const InterruptCase& c = GetParam();
    std::vector<std::string> ports = {"COM3", "COM4", "COM5", "COM6"};
    ports.resize(c.boards);
    std::vector<std::string> args{"flash", ExampleHex(), "--record", Path("r.jsonl")};
    for (const std::string& port : ports) {
        AddBoard(port, {"--pace"});
        args.insert(args.end(), {"--port", port});
    }
    std::unique_ptr<ChildProcess> flash = StartFlash(args, "/dev/null", true);
    for (const std::string& port : ports) {
        const std::string erasing = c.boards > 1 ? port + ": erase" : "erase: ";
        ASSERT_TRUE(flash->AwaitError(erasing, ProcessTimeoutMs)) << flash->Err();
    }
    const std::vector<pid_t> children = ChildrenOf(flash->Pid());
    ASSERT_EQ(children.size(), c.boards > 1 ? c.boards : 0);
    std::set<std::string> stopped(ports.begin(), ports.end());
    switch (c.to) {
    case SignalTo::Group:
        flash->SignalGroup(c.signal);
        break;
    case SignalTo::Parent:
        flash->Signal(c.signal);
        break;
    case SignalTo::FirstBoard: {
        const pid_t first = BoardChild(flash->Pid(), ports[0]);
        ASSERT_GT(first, 0);
        kill(first, c.signal);
        stopped = {ports[0]};
        break;
    }
    }
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), c.status) << flash->Err();
    EXPECT_TRUE(AllEnd(children, std::chrono::seconds(2)));
    for (auto& board : boards_) {
        const ComHandle port = OpenComPort(board->Device().c_str(), 115200, 100);
        EXPECT_NE(port, InvalidComHandle) << board->Device();
        CloseComPort(port);
    }

    std::set<std::string> recorded;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        const std::string port = record["port"];
        EXPECT_TRUE(recorded.insert(port).second) << port << " has two lines";
        EXPECT_EQ(record["sha256"], Sha256Of(ReadAll(ExampleHex())));
        if (stopped.contains(port)) {
            EXPECT_EQ(record["exit_status"], c.boardStatus) << port;
            EXPECT_THAT(record["result"].get<std::string>(), testing::StartsWith(c.result));
        } else {
            EXPECT_EQ(record["exit_status"], 0) << port;
        }
    }
    EXPECT_EQ(recorded, std::set<std::string>(ports.begin(), ports.end()));
    if (c.to == SignalTo::FirstBoard) {
        EXPECT_THAT(flash->Out(), HasSubstr("2 boards: 1 succeeded, 1 failed"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, InterruptedRun,
    testing::Values(InterruptCase{"SigintToTheGroup", 4, SIGINT, SignalTo::Group, 130, 130,
                                  "interrupted while "},
                    InterruptCase{"SigtermToTheParent", 4, SIGTERM, SignalTo::Parent, 143, 143,
                                  "interrupted while "},
                    // The children stop as on SIGTERM and write their own lines.
                    InterruptCase{"SigkillToTheParent", 4, SIGKILL, SignalTo::Parent, 137, 143,
                                  "interrupted while "},
                    InterruptCase{"SighupToOneBoard", 1, SIGHUP, SignalTo::Parent, 143, 143,
                                  "interrupted while "},
                    InterruptCase{"SigkillToOneBoardsProcess", 2, SIGKILL, SignalTo::FirstBoard, 6,
                                  6, "its process was killed while erasing (status 137)"}),
    CaseName());

// The reader of standard output goes away at once: the boards are still flashed and recorded.
TEST_F(CliTest, AClosedOutputStopsThePrintingOnly) {
    AddBoard("COM3");
    AddBoard("COM4");
    const std::string script = "\"$@\" | true; exit \"${PIPESTATUS[0]}\"";
    ChildProcess shell("/bin/bash",
                       {"-c", script, "bash", BinPath("tervix-flash"), "flash", ExampleHex(),
                        "--port", "COM3", "--port", "COM4", "--json", "--record", Path("r.jsonl")},
                       folder_.Path(),
                       {"TERVIX_PORTS=" + ports_, "TMPDIR=" + folder_.Path().string()});
    EXPECT_EQ(shell.Wait(ProcessTimeoutMs), 0) << shell.Err();
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).size(), 2u);
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
}

namespace {

struct ReplacedCase {
    std::string name;
    std::vector<std::string> ports;
    bool fast;
    bool remove; // the file deleted, else replaced by another
};

class ReplacedFileRun : public CliTest, public testing::WithParamInterface<ReplacedCase> {};

} // namespace

// The file changes once the boards are being erased: boards and records hold the file as it was
// when the run started.
TEST_P(ReplacedFileRun, BoardsAndRecordsKeepTheFileAsItWas) {
    const ReplacedCase& c = GetParam();
    const std::string original = ReadAll(ExampleHex());
    const std::string firmware = folder_.Create("fw.hex", original);
    std::vector<std::string> args{"flash", "fw.hex", "--record", Path("r.jsonl")};
    if (c.fast) {
        args.push_back("--fast");
    }
    for (const std::string& port : c.ports) {
        AddBoard(port, {"--pace"});
        args.insert(args.end(), {"--port", port});
    }
    std::unique_ptr<ChildProcess> flash = StartFlash(args);
    ASSERT_TRUE(flash->AwaitError("erase", ProcessTimeoutMs)) << flash->Err();
    if (c.remove) {
        std::filesystem::remove(firmware);
    } else {
        const std::string other = folder_.Create("other.hex", RowsHex(3, 0x11));
        std::filesystem::rename(other, firmware);
    }
    ASSERT_EQ(flash->Wait(ProcessTimeoutMs), 0) << flash->Err();

    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), c.ports.size());
    for (const nlohmann::ordered_json& record : records) {
        EXPECT_EQ(record["file"], "fw.hex");
        EXPECT_EQ(record["sha256"], Sha256Of(original));
        // --fast counts the rows its writes carried: the example shares one row between two
        // records.
        EXPECT_EQ(record["rows"], c.fast ? 7 : 8);
    }
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
    // The run's private copy went with it.
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tervix-")) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ReplacedFileRun,
    testing::Values(ReplacedCase{"RowByRowOneBoard", {"COM3"}, false, false},
                    ReplacedCase{"FastOneBoard", {"COM3"}, true, true},
                    ReplacedCase{"RowByRowTwoBoards", {"COM3", "COM4"}, false, true},
                    ReplacedCase{"FastTwoBoards", {"COM3", "COM4"}, true, false}),
    CaseName());

namespace {

struct KilledCase {
    std::string name;
    std::string stage; // the run is killed 0.3 s after this stage began
};

class RunAfterAKilledOne : public CliTest, public testing::WithParamInterface<KilledCase> {};

} // namespace

// The killed run's board answers its last request after the run is gone: that reply waits on the
// line and is no answer to the next run, which flashes the board cleanly.
TEST_P(RunAfterAKilledOne, FlashesCleanly) {
    SimBoard& board = AddBoard("COM3", {"--pace"});
    // Long requests: the kill lands inside one, whose reply then comes too late.
    folder_.Create("rows.hex", RowsHex(200, 0));
    std::unique_ptr<ChildProcess> killed =
        StartFlash({"flash", "--fast", "rows.hex", "--port", "COM3"});
    ASSERT_TRUE(killed->AwaitError(GetParam().stage + ": ", ProcessTimeoutMs)) << killed->Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    killed->Signal(SIGKILL);
    ASSERT_EQ(killed->Wait(ProcessTimeoutMs), 128 + SIGKILL);
    const Run run = Flash({"flash", ExampleHex(), "--port", "COM3"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "run");
}

INSTANTIATE_TEST_SUITE_P(Flash, RunAfterAKilledOne,
                         testing::Values(KilledCase{"WhileErasing", "erase"},
                                         KilledCase{"WhileWriting", "write"}),
                         CaseName());

// The log is written line by line before each row's request: a run killed mid-write leaves a log
// that names every row the board received, and at most the one row it was about to send.
TEST_F(CliTest, AKilledRunsLogHoldsEveryRowSent) {
    SimBoard& board = AddBoard("COM3", {"--pace"});
    folder_.Create("rows.hex", RowsHex(200, 0));
    std::unique_ptr<ChildProcess> flash = StartFlash({"flash", "rows.hex", "--port", "COM3"});
    ASSERT_TRUE(flash->AwaitError("write: ", ProcessTimeoutMs)) << flash->Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    flash->Signal(SIGKILL);
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 128 + SIGKILL);
    board.Stop();
    const std::string log = folder_.Read("temp.log");
    const auto lines = static_cast<std::uint64_t>(std::count(log.begin(), log.end(), '\n'));
    const std::uint64_t written = board.Stat("write_program");
    ASSERT_GT(written, 0u);
    ASSERT_LT(written, 200u) << "the run ended before it was killed";
    EXPECT_GE(lines, written);
    EXPECT_LE(lines, written + 1);
}
