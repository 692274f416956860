#include "target/FlashSequence.h"
#include "link/BootCommands.h"
#include "sim/Board.h"
#include "sim/BoardImage.h"
#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/HexProgrammer.h"
#include "target/HexRecord.h"
#include "target/HexWriter.h"
#include "target/TargetProfile.h"
#include "tests/support/CaseName.h"
#include "tests/support/SimProcess.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

namespace {

class FlashSequenceTest : public PortsTest {};

// Notes each step as it ends ("Erase", "Write!" for a failure, "pause"), and checks that every
// step announced is the one that ends next.
class NotedFace : public FlashFace {
public:
    NotedFace(const char* file, std::int32_t take, std::int32_t write)
        : file_(file), take_(take), write_(write) {}

    void Starting(FlashStep step) override {
        EXPECT_FALSE(open_) << "a step started inside another";
        open_ = step;
    }
    void Ended(const FlashReport& report) override {
        EXPECT_EQ(open_, report.Step);
        open_.reset();
        static constexpr const char* Names[] = {"Connect",     "File",    "TakeSerial",
                                                "BootMode",    "Erase",   "Write",
                                                "WriteSerial", "RunMode", "Disconnect"};
        Note(std::string(Names[static_cast<int>(report.Step)]) + (report.Failed() ? "!" : ""));
    }
    const char* FileToWrite() override { return file_; }
    std::int32_t TakeSerial() override { return take_; }
    std::int32_t WriteSerial(ImageFailure&) override { return write_; }
    void Pause(std::chrono::milliseconds pause) override {
        EXPECT_EQ(pause, EraseToWritePause);
        Note("pause");
    }

    std::string steps;

private:
    void Note(const std::string& step) { steps += (steps.empty() ? "" : " ") + step; }

    const char* file_;
    std::int32_t take_;
    std::int32_t write_;
    std::optional<FlashStep> open_;
};

struct SequenceCase {
    const char* name;
    bool file = true;
    std::int32_t take = 0; // the serial number's steps
    std::int32_t write = 0;
    bool runMode = true;
    const char* steps;
    bool written;   // the file's bytes are on the board
    bool connected; // the port is still open
    bool inRunMode; // the board starts its application at the next reset
};

class SequenceRun : public BoardTest, public testing::WithParamInterface<SequenceCase> {};

// The board starts in run mode with an old application: what the job changed shows.
TEST_P(SequenceRun, StopsAtTheFirstFailedStepLeavingTheBoardAsThatStepLeftIt) {
    const SequenceCase& c = GetParam();
    board_->WithBoard([](Board& b) {
        b.LoadProgramSpace(0x200, 0x5A);
        b.LoadEeprom(BoardMap::RunModeFlag, 0x00);
    });
    const std::string hex =
        folder_->Create("a.hex", HexLine(HexType::Data, 0x0200, {0x12, 0x34}) + HexEnd);
    NotedFace face(c.file ? hex.c_str() : nullptr, c.take, c.write);
    const FlashReport report = RunFlashSequence({std::nullopt, nullptr, c.runMode}, face);
    EXPECT_EQ(face.steps, c.steps);
    EXPECT_EQ(report.Failed(), std::string(c.steps).ends_with("!"));
    EXPECT_EQ(Program(0x200), c.written ? 0x12 : 0x5A);
    EXPECT_EQ(TargetProfile.Connected.load(), c.connected ? 1 : 0);
    EXPECT_EQ(Eeprom(BoardMap::RunModeFlag) == 0x00, c.inRunMode);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SequenceRun,
    testing::Values(
        SequenceCase{"Succeeds", true, 0, 0, true,
                     "Connect File TakeSerial BootMode Erase pause Write WriteSerial RunMode "
                     "Disconnect",
                     true, false, true},
        SequenceCase{"NoFile", false, 0, 0, true, "Connect File!", false, true, true},
        // Nothing of the board changes before its number is taken.
        SequenceCase{"SerialNotTaken", true, -1, 0, true, "Connect File TakeSerial!", false, true,
                     true},
        // A board whose number did not reach it stays in its bootloader.
        SequenceCase{"SerialNotWritten", true, 0, -12, true,
                     "Connect File TakeSerial BootMode Erase pause Write WriteSerial!", true, true,
                     false},
        SequenceCase{"LeftInBootMode", true, 0, 0, false,
                     "Connect File TakeSerial BootMode Erase pause Write WriteSerial Disconnect",
                     true, false, false}),
    CaseName());

// The flash job's steps in order, with a 16 KB application, against the board on a
// pseudo-terminal; also reports the number of requests and the time the sequence took.
TEST_F(FlashSequenceTest, WholeSequenceLeavesTheImageAndRunModeAndSparesTheBootBlock) {
    WorkingFolder folder;
    const std::string dump = folder.File("board.hex");
    SimProcess sim({"--stats", "--dump", dump});
    ASSERT_TRUE(sim.Ok());
    ports_.Link("COM3", sim.SlavePath());
    answers_ = {true};

    std::vector<std::uint8_t> application(16 * 1024);
    std::uint32_t seed = 12345;
    for (std::uint8_t& b : application) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    HexWriter writer;
    writer.Add(0x200, application.data(), application.size());
    const std::string hex = folder.Create("app.hex", writer.Finish());

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(ConnectTarget(), 2);
    ASSERT_EQ(EnterBootMode(), 1);
    ASSERT_GE(EraseForFlash(hex.c_str()), 0);
    ASSERT_EQ(ProgramForFlash(hex.c_str()), 1024 + 2);
    ASSERT_EQ(SetRunMode(1), 1);
    ASSERT_EQ(DisconnectTarget(), ConnectResult::Disconnected);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    ASSERT_EQ(sim.Stop(), 0) << sim.Errors();
    const auto stats = sim.Stats();
    EXPECT_EQ(stats.at("violations"), "0");
    EXPECT_EQ(stats.at("erase_program"), "504");
    EXPECT_EQ(stats.at("write_program"), "1024");
    EXPECT_EQ(stats.at("read_program"), "1025"); // the device number and one read-back a row
    EXPECT_EQ(stats.at("write_eeprom"), "2");    // boot mode before the erase, run mode at the end
    EXPECT_EQ(stats.at("read_eeprom"), "1");
    std::printf("[ measure  ] 16 KB image: %s requests, %.3f s connect to disconnect\n",
                stats.at("requests").c_str(), seconds);
    RecordProperty("requests", stats.at("requests"));
    RecordProperty("seconds", std::to_string(seconds));

    // No request reached the boot block (violations above); the rest is the image.
    Board after;
    ASSERT_TRUE(LoadBoardImage(after, dump.c_str()).Ok);
    for (std::uint32_t a = 0x200; a < 0x8000; ++a) {
        const std::uint8_t expected =
            a < 0x200 + application.size() ? application[a - 0x200] : 0xFF;
        ASSERT_EQ(after.ReadProgramSpace(a), expected) << std::hex << a;
    }
    EXPECT_TRUE(after.RunMode());
}

} // namespace
