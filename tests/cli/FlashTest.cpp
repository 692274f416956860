// tervix-flash flash against simulated boards: what lands on the board, which port is taken,
// and the exit status and words of every stage that can fail.

#include "tests/cli/CliFixture.h"
#include "tests/cli/RecordChecks.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <sys/stat.h>

using testing::HasSubstr;

namespace {

const std::vector<std::string> Fast = {"--timeout-ms", "200"};

std::vector<std::string> Args(std::vector<std::string> args,
                              const std::vector<std::string>& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

TEST_F(CliTest, FlashWritesTheFileVerifiesItAndSetsRunMode) {
    SimBoard& board = AddBoard("COM3", {"--load", InRunMode()});
    const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("504 blocks erased, 8 rows written and verified, run mode set"));
    EXPECT_THAT(run.Err, HasSubstr("connected to COM3 (" + board.Device() + "), device 33"));

    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "run");
    EXPECT_EQ(board.Stat("violations"), 0u);
    EXPECT_EQ(board.Stat("erase_program"), 504u);
    // Boot mode written and read back before the first erase, the file's EEPROM row written and
    // read back, run mode after the last row.
    EXPECT_EQ(board.Stat("erases_in_run_mode"), 0u);
    EXPECT_EQ(board.Stat("write_eeprom"), 3u);
    EXPECT_EQ(board.Stat("read_eeprom"), 2u);
    // The programmer's log lands in the working folder: one line per row sent.
    const std::string log = folder_.Read("temp.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
}

// The same board as without --fast, in fewer and larger requests; the summary counts the rows
// the writes carried.
TEST_F(CliTest, FastFlashLeavesTheSameBoard) {
    SimBoard& board = AddBoard("COM3", {"--load", InRunMode()});
    const Run run = Flash({"flash", "--fast", "--port", "COM3", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("504 blocks erased, 7 rows written and verified, run mode set"));
    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
    EXPECT_EQ(board.StatText("mode"), "run");
    EXPECT_EQ(board.Stat("erase_program"), 16u);
    EXPECT_EQ(board.Stat("erases_in_run_mode"), 0u);
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

// The record names the port as every record and table does, by its short name.
TEST_F(CliTest, PortAnswersYesForThatPortOnly) {
    SimBoard& other = AddBoard("COM3");
    SimBoard& wanted = AddBoard("COM12");
    const Run run =
        Flash({"flash", "--quiet", "--port", "\\\\.\\COM12", ExampleHex(), "--record", "r.jsonl"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).back()["port"], "COM12");
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
    {
        // A second name of another file: writing the log would overwrite that file.
        std::filesystem::remove(Path("temp.log"));
        ASSERT_TRUE(folder_.Write("kept.txt", "kept\n"));
        std::filesystem::create_hard_link(Path("kept.txt"), Path("temp.log"));
        const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
        EXPECT_EQ(run.Status, 2);
        EXPECT_THAT(run.Err, HasSubstr("cannot write temp.log here"));
        EXPECT_EQ(folder_.Read("kept.txt"), "kept\n");
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
    // Every board runs its application until a job flags it for the bootloader.
    std::vector<std::string> options{"--load", InRunMode()};
    options.insert(options.end(), f.board.begin(), f.board.end());
    SimBoard& board = AddBoard("COM3", options);
    ASSERT_TRUE(folder_.Write("app.hex", ":040200000DEF01F00D\n:00000001FF\n"));
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
        // A board that is not the one expected keeps running its application.
        Failure("WrongDeviceIsNamedAndNotErased", {"--device-id", "0x0404"},
                {"flash", "--port", "COM3", ExampleHex()}, 1,
                {"device number 32, expected 33 (PIC18F452)"}, "mode", "run"),
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
        Failure("SlowErase", {"--pace", "--erase-ms", "30000"}, Args({"flash", "app.hex"}, Slow), 3,
                {"erase failed at 0x200: no valid reply after every attempt"}, "", ""),
        Failure("SlowWrite", {"--pace", "--write-ms", "30000"}, Args({"flash", "app.hex"}, Slow), 4,
                {"writing row 0x0200 failed: no valid reply after every attempt"}, "", ""),
        // The boot-mode flag is the first EEPROM write: nothing is erased without it.
        Failure("SlowBootModeStopsBeforeTheErase", {"--pace", "--eeprom-ms", "30000"},
                Args({"flash", "app.hex"}, Slow), 3,
                {"setting boot mode before the erase failed, nothing was erased: no valid reply "
                 "after every attempt"},
                "", ""),
        Failure("SlowBootModeStopsTheEraseCommand", {"--pace", "--eeprom-ms", "30000"},
                Args({"erase"}, Slow), 3, {"setting boot mode before the erase failed"}, "", ""),
        Failure("SlowRunModeCommand", {"--pace", "--eeprom-ms", "30000"}, Args({"run-mode"}, Slow),
                5, {"setting run mode failed"}, "", "")),
    CaseName());

// Files that once left the board wiped or incomplete, or that no board can end up holding:
// written in full, or refused before anything is erased, with and without --fast.
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
    SimBoard& board = AddBoard("COM3", {"--load", InRunMode()});
    const std::string file = std::string(TERVIX_HOSTILE_CORPUS) + "/" + f.file;
    for (const std::vector<std::string>& path :
         {std::vector<std::string>{}, std::vector<std::string>{"--fast"}}) {
        const Run run = Flash(Args({"flash", "--port", "COM3", file}, path));
        EXPECT_EQ(run.Status, f.status) << run.Err;
        EXPECT_THAT(run.Err, HasSubstr(f.error));
    }
    board.Stop();
    if (f.status == 0) {
        ExpectHolds(board, ReadHexImage(file));
    } else {
        EXPECT_EQ(board.Stat("requests"), 0u);
        EXPECT_EQ(board.StatText("mode"), "run");
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
                "holds no data for program memory or data EEPROM; nothing was erased"},
        OddFile{"OnlyARecordOfNoBytes", "zero_count_only.hex", 2,
                "zero_count_only.hex: the file holds no data for program memory or data EEPROM; "
                "nothing was erased"},
        OddFile{"EmptyEepromRecordBesideData", "empty_eeprom_record.hex", 0, ""},
        OddFile{"ProgramBytesThatDisagree", "program_conflict.hex", 2,
                "program_conflict.hex line 2: the bytes for program memory address 0x020A differ "
                "from those on line 1; nothing was written"},
        OddFile{"EepromBytesThatDisagree", "eeprom_conflict.hex", 2,
                "eeprom_conflict.hex line 4: the bytes for data EEPROM address 0x0012 differ from "
                "those on line 3; nothing was written"},
        OddFile{"PastTheEndOfProgramMemory", "past_program_end.hex", 2,
                "past_program_end.hex line 2: program memory data at 0x8000 lies past the end of "
                "program memory at 0x7FFF; nothing was written"},
        OddFile{"PastTheEndThroughAnUpperAddress", "past_64k.hex", 2,
                "past_64k.hex line 3: program memory data at 0x10000 lies past the end"}),
    CaseName());
