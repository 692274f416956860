#include "link/BootCommands.h"
#include "sim/Board.h"
#include "sim/BoardImage.h"
#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/HexProgrammer.h"
#include "target/HexWriter.h"
#include "target/TargetProfile.h"
#include "tests/support/SimProcess.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

class FlashSequenceTest : public PortsTest {};

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
