// tervix-flash flash against simulated boards: what lands on the board, which port is taken,
// and the exit status and words of every stage that can fail.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include "link/ComPort.h"

#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <sys/stat.h>

using testing::HasSubstr;

namespace {

// Program memory and data EEPROM bytes of the file, the spaces the default profile writes.
HexImage WrittenSpaces(const HexImage& image) {
    HexImage written;
    for (const auto& [address, byte] : image) {
        if (address < 0x200000 || (address >= EepromBase && address < EepromBase + 0x100)) {
            written[address] = byte;
        }
    }
    return written;
}

void ExpectHolds(const SimBoard& board, const HexImage& image) {
    for (const auto& [address, byte] : WrittenSpaces(image)) {
        const auto it = board.Memory().find(address);
        ASSERT_NE(it, board.Memory().end()) << std::hex << address;
        EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
    }
}

const std::vector<std::string> Fast = {"--timeout-ms", "200"};

std::vector<std::string> Args(std::vector<std::string> args,
                              const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

TEST_F(CliTest, FlashWritesTheFileVerifiesItAndSetsRunMode) {
    SimBoard& board = AddBoard("COM3");
    const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("504 blocks erased, 8 rows written and verified, run mode set"));
    EXPECT_THAT(run.Err, HasSubstr("connected to COM3 (" + board.Device() + "), device 33"));

    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "run");
    EXPECT_EQ(board.Stat("violations"), 0u);
    EXPECT_EQ(board.Stat("erase_program"), 504u);
    // The programmer's log lands in the working folder: one line per row sent.
    const std::string log = folder_.Read("temp.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
}

// The same board and summary as without --fast, in fewer and larger requests.
TEST_F(CliTest, FastFlashLeavesTheSameBoard) {
    SimBoard& board = AddBoard("COM3");
    const Run run = Flash({"flash", "--fast", "--port", "COM3", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("504 blocks erased, 8 rows written and verified, run mode set"));
    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "run");
    EXPECT_EQ(board.Stat("erase_program"), 16u);
    EXPECT_EQ(board.Stat("write_program"), 2u);
    EXPECT_EQ(board.Stat("malformed"), 0u);
    EXPECT_EQ(board.Stat("violations"), 0u);
    // Rows 0x200 and 0x210 each hold two records' bytes but are logged once.
    const std::string log = folder_.Read("temp.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7);
}

TEST_F(CliTest, PortGivenAsDevicePathAndBootModeKept) {
    SimBoard& board = AddBoard("COM3");
    const Run run = Flash({"flash", "--no-run-mode", "--port", board.Device(), ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("left in boot mode"));
    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "boot");
}

TEST_F(CliTest, PortAnswersYesForThatPortOnly) {
    SimBoard& other = AddBoard("COM3");
    SimBoard& wanted = AddBoard("COM12");
    const Run run = Flash({"flash", "--quiet", "--port", "\\\\.\\COM12", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "");
    other.Stop();
    wanted.Stop();
    EXPECT_EQ(other.Stat("requests"), 0u);
    ExpectHolds(wanted, ReadHexImage(ExampleHex()));
}

TEST_F(CliTest, YesTakesTheFirstPortThatOpens) {
    SimBoard& first = AddBoard("COM2");
    SimBoard& second = AddBoard("COM5");
    const Run run = Flash({"flash", "--yes", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    first.Stop();
    second.Stop();
    ExpectHolds(first, ReadHexImage(ExampleHex()));
    EXPECT_EQ(second.Stat("requests"), 0u);
}

TEST_F(CliTest, PortQuestionOnTheTerminal) {
    SimBoard& declined = AddBoard("COM1");
    SimBoard& accepted = AddBoard("COM3");
    Pty terminal;
    ASSERT_TRUE(terminal.Ok());
    std::unique_ptr<ChildProcess> flash = StartFlash({"flash", ExampleHex()}, terminal.SlavePath());
    ASSERT_TRUE(flash->AwaitError("Serial Port Selected? COM1 (" + declined.Device() + ") [y/N] ",
                                  ProcessTimeoutMs))
        << flash->Err();
    ASSERT_TRUE(terminal.Send({'n', '\n'}));
    ASSERT_TRUE(flash->AwaitError("Serial Port Selected? COM3 (" + accepted.Device() + ") [y/N] ",
                                  ProcessTimeoutMs))
        << flash->Err();
    ASSERT_TRUE(terminal.Send({'y', '\n'}));
    ASSERT_EQ(flash->Wait(ProcessTimeoutMs), 0) << flash->Err();
    declined.Stop();
    accepted.Stop();
    EXPECT_EQ(declined.Stat("requests"), 0u);
    ExpectHolds(accepted, ReadHexImage(ExampleHex()));
}

TEST_F(CliTest, ConnectionFailuresExitWithOneAndSayWhy) {
    {
        const Run run = Flash({"flash", "--yes", ExampleHex()});
        EXPECT_EQ(run.Status, 1);
        EXPECT_THAT(run.Err, HasSubstr("no port answered: none of COM1 to COM21 could be opened"));
    }
    SimBoard& board = AddBoard("COM3");
    {
        const Run run = Flash({"flash", "--port", "COM4", ExampleHex()});
        EXPECT_EQ(run.Status, 1);
        EXPECT_THAT(run.Err, HasSubstr("no port answered: COM4 leads to no device"));
    }
    for (const char* name : {"COM99", "\\\\.\\COM22", "com0"}) {
        const Run run = Flash({"flash", "--port", name, ExampleHex()});
        EXPECT_EQ(run.Status, 1);
        EXPECT_THAT(run.Err, HasSubstr(std::string("there is no such port name as ") + name));
    }
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
}

TEST_F(CliTest, BadFilesExitWithTwoBeforeTheBoardIsTouched) {
    SimBoard& board = AddBoard("COM3");
    {
        const Run run = Flash({"flash", "--port", "COM3", Path("missing.hex")});
        EXPECT_EQ(run.Status, 2);
        EXPECT_THAT(run.Err, HasSubstr("cannot read"));
    }
    {
        // A good first row, then a checksum that does not add up on line 3.
        ASSERT_TRUE(folder_.Write("broken.hex", ":020000040000FA\n"
                                                ":040200000DEF01F00D\n"
                                                ":020208001100E4\n"
                                                ":00000001FF\n"));
        const Run run = Flash({"flash", "--port", "COM3", Path("broken.hex")});
        EXPECT_EQ(run.Status, 2);
        EXPECT_THAT(run.Err, HasSubstr("broken.hex line 3: checksum mismatch"));
        EXPECT_THAT(run.Err, HasSubstr("-1020"));
    }
    {
        // The programmer would refuse the link only after the erase.
        std::filesystem::create_symlink(Path("elsewhere.log"), Path("temp.log"));
        const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
        EXPECT_EQ(run.Status, 2);
        EXPECT_THAT(run.Err, HasSubstr("cannot write temp.log here"));
    }
    {
        std::filesystem::remove(Path("temp.log"));
        ASSERT_EQ(mkfifo(Path("temp.log").c_str(), 0666), 0);
        const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
        EXPECT_EQ(run.Status, 2);
        EXPECT_THAT(run.Err, HasSubstr("cannot write temp.log here"));
    }
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
}

// One board and one run that fails: the exit status, the words, and, where it matters, what the
// board was spared. A slow stage's board takes far longer over its programming than the read
// time-out: every attempt of that stage's first request times out (all of them long before the
// board's first reply), the stages before it pass. That time-out is generous so that those
// stages never see one on a loaded machine.
namespace {

struct Failure {
    std::string name;
    std::vector<std::string> board;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> errors;
    // A statistic of the board after the run, and its value; none when key is empty.
    std::string key;
    std::string value;
};

class FailingRun : public CliTest, public testing::WithParamInterface<Failure> {};

const std::vector<std::string> Slow = {"--timeout-ms", "500", "--port", "COM3"};

} // namespace

TEST_P(FailingRun, ExitsWithItsStatusAndSaysWhy) {
    const Failure& f = GetParam();
    SimBoard& board = AddBoard("COM3", f.board);
    // Program memory only, so the EEPROM's slowness shows in the run-mode write.
    ASSERT_TRUE(folder_.Write("app.hex", ":040200000DEF01F00D\n:00000001FF\n"));
    // 0x201 is 0xEF on line 1 and 0x00 on line 2.
    ASSERT_TRUE(folder_.Write("conflict.hex", ":040200000DEF01F00D\n:0102010000FC\n:00000001FF\n"));
    const Run run = Flash(f.args);
    EXPECT_EQ(run.Status, f.status);
    for (const std::string& error : f.errors) {
        EXPECT_THAT(run.Err, HasSubstr(error));
    }
    if (!f.key.empty()) {
        board.Stop();
        EXPECT_EQ(board.StatText(f.key), f.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flash, FailingRun,
    testing::Values(
        Failure("WithoutPortChoiceOrTerminalNoPortIsTouched", {}, {"flash", ExampleHex()}, 64,
                {"give --port NAME or --yes"}, "requests", "0"),
        Failure("WrongDeviceIsNamedAndNotErased", {"--device-id", "0x0404"},
                {"flash", "--port", "COM3", ExampleHex()}, 1,
                {"device number 32, expected 33 (PIC18F452)"}, "erase_program", "0"),
        Failure("SilentBoardIsADeviceReadFailure", {"--silent"},
                Args({"flash", "--port", "COM3", ExampleHex()}, Fast), 1,
                {"device read failed on COM3", "no valid reply after every attempt (code -5)"}, "",
                ""),
        // 0x21A holds a byte of the example's record at 0x218, in the row at 0x210.
        Failure("VerifyMismatchNamesTheRow", {"--stuck", "0x21A=0x00"},
                {"flash", "--port", "COM3", ExampleHex()}, 4, {"verify mismatch at row 0x0210"},
                "mode", "boot"),
        Failure("FastVerifyMismatchNamesTheByte", {"--stuck", "0x21A=0x00"},
                {"flash", "--fast", "--port", "COM3", ExampleHex()}, 4,
                {"verify mismatch at 0x021A"}, "mode", "boot"),
        Failure("FastConflictingRecordsAreRefusedBeforeTheBoardIsTouched", {},
                {"flash", "--fast", "--port", "COM3", "conflict.hex"}, 2,
                {"conflict.hex lines 1 and 2 give different bytes for program memory address "
                 "0x0201; nothing was written"},
                "requests", "0"),
        Failure("SlowErase", {"--pace", "--erase-ms", "30000"}, Args({"flash", "app.hex"}, Slow), 3,
                {"erase failed at 0x200: no valid reply after every attempt"}, "", ""),
        Failure("SlowWrite", {"--pace", "--write-ms", "30000"}, Args({"flash", "app.hex"}, Slow), 4,
                {"writing row 0x0200 failed: no valid reply after every attempt"}, "", ""),
        Failure("SlowRunMode", {"--pace", "--eeprom-ms", "30000"}, Args({"flash", "app.hex"}, Slow),
                5, {"setting run mode failed: no valid reply after every attempt"}, "", ""),
        Failure("SlowRunModeCommand", {"--pace", "--eeprom-ms", "30000"}, Args({"run-mode"}, Slow),
                5, {"setting run mode failed"}, "", "")),
    CaseName());

// Files that once left the board wiped or incomplete while the run reported success: written in
// full, or refused before anything is erased.
namespace {

struct OddFile {
    std::string name;
    const char* file;
    int status;
    std::string error;
};

class OddFileRun : public CliTest, public testing::WithParamInterface<OddFile> {};

} // namespace

TEST_P(OddFileRun, IsWrittenInFullOrRefusedBeforeTheErase) {
    const OddFile& f = GetParam();
    SimBoard& board = AddBoard("COM3");
    const std::string file = std::string(TERVIX_HOSTILE_CORPUS) + "/" + f.file;
    const Run run = Flash({"flash", "--port", "COM3", file});
    EXPECT_EQ(run.Status, f.status) << run.Err;
    EXPECT_THAT(run.Err, HasSubstr(f.error));
    board.Stop();
    if (f.status == 0) {
        ExpectHolds(board, ReadHexImage(file));
    } else {
        EXPECT_EQ(board.Stat("requests"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flash, OddFileRun,
    testing::Values(
        OddFile{"CrOnlyLineEnds", "cr_only.hex", 0, ""},
        OddFile{"TwoRecordsPerLine", "two_per_line.hex", 2,
                "two_per_line.hex line 2: this line holds a second record"},
        OddFile{"EmptyExtendedLinearAddress", "empty_type_04.hex", 2,
                "empty_type_04.hex line 2: an extended linear address record must hold two bytes"},
        OddFile{"NonZeroSegment", "segment_02.hex", 2,
                "segment_02.hex line 2: extended segment address 1000"},
        OddFile{"DataOnlyInDisabledSpaces", "disabled_spaces_only.hex", 2,
                "holds no data for program memory or data EEPROM; nothing was erased"}),
    CaseName());

// Another board's process of the same run scans the ports before its own and holds each for a
// moment: a port named with --port that is in use is waited for, not given up at once.
TEST_F(CliTest, APortHeldForAMomentIsWaitedFor) {
    SimBoard& board = AddBoard("COM3");
    const ComHandle holder = OpenComPort(board.Device().c_str(), 115200, 100);
    ASSERT_NE(holder, InvalidComHandle);
    std::unique_ptr<ChildProcess> flash = StartFlash({"flash", "--port", "COM3", ExampleHex()});
    ASSERT_TRUE(flash->AwaitError("connect", ProcessTimeoutMs)) << flash->Err();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CloseComPort(holder);
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 0) << flash->Err();
}
