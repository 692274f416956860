// tervix-flash flash against simulated boards: what lands on the board, which port is taken,
// and the exit status and words of every stage that can fail.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>

#include <filesystem>

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

TEST_F(CliTest, WithoutPortChoiceOrTerminalNoPortIsTouched) {
    SimBoard& board = AddBoard("COM3");
    const Run run = Flash({"flash", ExampleHex()});
    EXPECT_EQ(run.Status, 64);
    EXPECT_THAT(run.Err, HasSubstr("give --port NAME or --yes"));
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
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
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
}

TEST_F(CliTest, WrongDeviceIsNamedAndNotErased) {
    SimBoard& board = AddBoard("COM3", {"--device-id", "0x0404"});
    const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
    EXPECT_EQ(run.Status, 1);
    EXPECT_THAT(run.Err, HasSubstr("device number 32, expected 33 (PIC18F452)"));
    board.Stop();
    EXPECT_EQ(board.Stat("erase_program"), 0u);
}

TEST_F(CliTest, SilentBoardIsADeviceReadFailure) {
    AddBoard("COM3", {"--silent"});
    const Run run = Flash(Args({"flash", "--port", "COM3", ExampleHex()}, Fast));
    EXPECT_EQ(run.Status, 1);
    EXPECT_THAT(run.Err, HasSubstr("device read failed on COM3"));
    EXPECT_THAT(run.Err, HasSubstr("no valid reply after every attempt (code -5)"));
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
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
}

TEST_F(CliTest, VerifyMismatchNamesTheRow) {
    // 0x21A holds a byte of the example's record at 0x218, in the row at 0x210.
    SimBoard& board = AddBoard("COM3", {"--stuck", "0x21A=0x00"});
    const Run run = Flash({"flash", "--port", "COM3", ExampleHex()});
    EXPECT_EQ(run.Status, 4);
    EXPECT_THAT(run.Err, HasSubstr("verify mismatch at row 0x0210"));
    board.Stop();
    EXPECT_EQ(board.StatText("mode"), "boot");
}

// A stage whose programming the board takes far longer over than the read time-out: every
// attempt of that stage's first request times out (all of them long before the board's first
// reply), the stages before it pass. The time-out is generous so that those stages never see
// one on a loaded machine.
struct SlowStage {
    const char* name;
    const char* option; // the board's programming time of the stage, made 30 s
    int status;
    const char* error;

    friend void PrintTo(const SlowStage& stage, std::ostream* out) { *out << stage.name; }
};

class SlowStageTest : public CliTest, public testing::WithParamInterface<SlowStage> {};

TEST_P(SlowStageTest, ExitsWithTheStagesStatus) {
    AddBoard("COM3", {"--pace", GetParam().option, "30000"});
    // Program memory only, so the EEPROM's slowness shows in the run-mode write.
    ASSERT_TRUE(folder_.Write("app.hex", ":040200000DEF01F00D\n:00000001FF\n"));
    const Run run = Flash({"flash", "--timeout-ms", "500", "--port", "COM3", "app.hex"});
    EXPECT_EQ(run.Status, GetParam().status);
    EXPECT_THAT(run.Err, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Stages, SlowStageTest,
    testing::Values(SlowStage{"Erase", "--erase-ms", 3,
                              "erase failed at 0x200: no valid reply after every attempt"},
                    SlowStage{"Write", "--write-ms", 4,
                              "writing row 0x0200 failed: no valid reply after every attempt"},
                    SlowStage{"RunMode", "--eeprom-ms", 5,
                              "setting run mode failed: no valid reply after every attempt"}),
    CaseName());

TEST_F(CliTest, RunModeCommandFailureExitsWithFive) {
    AddBoard("COM3", {"--pace", "--eeprom-ms", "30000"});
    const Run run = Flash({"run-mode", "--timeout-ms", "500", "--port", "COM3"});
    EXPECT_EQ(run.Status, 5);
    EXPECT_THAT(run.Err, HasSubstr("setting run mode failed"));
}
