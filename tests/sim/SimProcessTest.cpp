#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include "link/BootCommands.h"
#include "link/ComPort.h"
#include "link/Packet.h"
#include "sim/Board.h"
#include "sim/BoardImage.h"
#include "target/HexWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

BootCommand Command(std::uint8_t code, std::uint8_t count, std::uint32_t address,
                    std::uint8_t writeBlock = 1, std::uint16_t retries = 3) {
    return BootCommand{code, count, address, writeBlock, 1, retries};
}

// The host's end of the line: the board's port opened through the link layer.
class HostPort {
public:
    explicit HostPort(const std::string& path, std::uint32_t readTimeoutMs = 1000)
        : handle_(OpenComPort(path.c_str(), 115200, readTimeoutMs)) {}
    ~HostPort() { Close(); }
    HostPort(const HostPort&) = delete;
    HostPort& operator=(const HostPort&) = delete;

    ComHandle Handle() const { return handle_; }
    void Close() {
        if (handle_ != InvalidComHandle) {
            CloseComPort(handle_);
            handle_ = InvalidComHandle;
        }
    }

    Bytes Read(std::uint8_t code, std::uint8_t count, std::uint32_t address) {
        std::uint8_t out[MaxBootData] = {};
        const std::int32_t got = BootRead(handle_, Command(code, count, address), out);
        return got < 0 ? Bytes{} : Bytes(out, out + got);
    }

private:
    ComHandle handle_;
};

TEST(SimProcessServe, HostProgramsAndReadsBackThroughTheLinkLayer) {
    SimProcess sim({"--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    {
        HostPort host(sim.SlavePath());
        ASSERT_NE(host.Handle(), InvalidComHandle);
        EXPECT_EQ(host.Read(1, 2, DeviceIdAddress), (Bytes{0x24, 0x04}));

        Bytes row(16);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = static_cast<std::uint8_t>(0x04 + i); // escapes on the way in and out
        }
        EXPECT_GE(BootErase(host.Handle(), 0x200, 1, 3), 0);
        EXPECT_EQ(BootWrite(host.Handle(), Command(2, 16, 0x200, 8), row.data()), 16);
        EXPECT_EQ(BootVerify(host.Handle(), Command(1, 16, 0x200, 8), row.data()), 16);
        const std::uint8_t runMode = 0x00;
        EXPECT_EQ(BootWrite(host.Handle(), Command(5, 1, 0xFF), &runMode), 1);
        EXPECT_EQ(host.Read(4, 1, 0xFF), Bytes{0x00});
        // The boot block is answered like any write, and stays as it was.
        EXPECT_EQ(BootWrite(host.Handle(), Command(2, 8, 0x100, 8), row.data()), 8);
        EXPECT_EQ(host.Read(1, 1, 0x100), Bytes{Board::BootBlockByte(0x100)});
    }
    ASSERT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_EQ(sim.Stat("requests"), 8u);
    EXPECT_EQ(sim.Stat("read_program"), 3u);
    EXPECT_EQ(sim.Stat("write_program"), 2u);
    EXPECT_EQ(sim.Stat("erase_program"), 1u);
    EXPECT_EQ(sim.Stat("write_eeprom"), 1u);
    EXPECT_EQ(sim.Stat("read_eeprom"), 1u);
    EXPECT_EQ(sim.Stat("violations"), 1u);
    EXPECT_EQ(sim.Stat("malformed"), 0u);
    EXPECT_GT(sim.Stat("bytes_sent"), sim.Stat("bytes_received") / 2);
    EXPECT_EQ(sim.StatText("mode"), "run");
}

TEST(SimProcessImage, LoadedImageIsServedAndTheDumpLoadsBackTheSame) {
    TempFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    HexWriter writer;
    const Bytes code = {0x12, 0x34, 0x0F, 0x05, 0x04, 0xEF};
    const Bytes ids = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes config = {0x27, 0x0E};
    const Bytes eeprom = {0xA5, 0x5A};
    const Bytes elsewhere = {0x99};
    writer.Add(0x0303, code.data(), code.size());
    writer.Add(0x200000, ids.data(), ids.size());
    writer.Add(0x300001, config.data(), config.size());
    writer.Add(0xF000FE, eeprom.data(), eeprom.size());
    writer.Add(0x210000, elsewhere.data(), elsewhere.size());
    ASSERT_TRUE(folder.Write("in.hex", writer.Finish()));

    SimProcess sim({"--load", folder.File("in.hex"), "--dump", folder.File("out.hex")});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    {
        HostPort host(sim.SlavePath());
        EXPECT_EQ(host.Read(1, 8, 0x0302), (Bytes{0xFF, 0x12, 0x34, 0x0F, 0x05, 0x04, 0xEF, 0xFF}));
        EXPECT_EQ(host.Read(1, 8, 0x200000), ids);
        EXPECT_EQ(host.Read(6, 3, 0x300000), (Bytes{0xFF, 0x27, 0x0E}));
        EXPECT_EQ(host.Read(4, 2, 0xFE), eeprom);
        const Bytes cleared(8, 0x00);
        EXPECT_EQ(BootWrite(host.Handle(), Command(2, 8, 0x7FF8, 8), cleared.data()), 8);
    }
    ASSERT_EQ(sim.Stop(), 0) << sim.Errors();
    EXPECT_NE(sim.Errors().find("1 bytes"), std::string::npos) << sim.Errors();

    const std::string dump = folder.Read("out.hex");
    Board reloaded;
    const ImageLoad load = LoadBoardImage(reloaded, folder.File("out.hex").c_str());
    ASSERT_TRUE(load.Ok) << load.Error;
    EXPECT_EQ(load.Ignored, 0u);
    EXPECT_EQ(reloaded.ReadProgramSpace(0x0304), 0x34);
    EXPECT_EQ(reloaded.ReadProgramSpace(0x7FF8), 0x00);
    EXPECT_EQ(reloaded.ReadProgramSpace(0x200007), 8);
    EXPECT_EQ(reloaded.ReadProgramSpace(0x300002), 0x0E);
    EXPECT_EQ(reloaded.ReadEeprom(0xFF), 0x5A);
    // The dump shows the boot block, and loading it into a board reproduces the same dump.
    EXPECT_NE(dump.find(":10000000"), std::string::npos);
    EXPECT_EQ(reloaded.ReadProgramSpace(0), Board::BootBlockByte(0));
    EXPECT_EQ(DumpBoardImage(reloaded), dump);
}

TEST(SimProcessFaults, DeviceIdAndStuckByteShowThroughTheHostsChecks) {
    SimProcess sim({"--device-id", "0x0123", "--stuck", "0x208=0x00"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    HostPort host(sim.SlavePath());
    EXPECT_EQ(host.Read(1, 2, DeviceIdAddress), (Bytes{0x23, 0x01}));
    const Bytes row(16, 0xFF);
    EXPECT_EQ(BootWrite(host.Handle(), Command(2, 16, 0x200, 8), row.data()), 16);
    EXPECT_EQ(BootVerify(host.Handle(), Command(1, 16, 0x200, 8), row.data()),
              BootResult::VerifyMismatch);
}

TEST(SimProcessFaults, DamagedRepliesCostRepeatsButReadsStillSucceed) {
    SimProcess sim({"--drop-every", "4", "--bad-checksum-every", "3", "--cut-reply-every", "5",
                    "--noise", "30", "--seed", "5", "--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    {
        HostPort host(sim.SlavePath(), 100);
        for (int i = 0; i < 8; ++i) {
            std::uint8_t out[MaxBootData] = {};
            ASSERT_EQ(BootRead(host.Handle(), Command(1, 2, DeviceIdAddress, 1, 9), out), 2) << i;
            EXPECT_EQ(out[0], 0x24);
        }
    }
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_GT(sim.Stat("dropped_replies"), 0u);
    EXPECT_GT(sim.Stat("bad_checksum_replies"), 0u);
    EXPECT_GT(sim.Stat("cut_replies"), 0u);
    EXPECT_GT(sim.Stat("noise_bytes"), 0u);
    EXPECT_GT(sim.Stat("read_program"), 8u);
}

TEST(SimProcessFaults, SilentBoardLeavesTheHostWithNoReply) {
    SimProcess sim({"--silent", "--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    {
        HostPort host(sim.SlavePath(), 100);
        const std::uint8_t runMode = 0x00;
        EXPECT_EQ(BootWrite(host.Handle(), Command(5, 1, 0xFF, 1, 2), &runMode),
                  PacketResult::NoAttemptsLeft);
    }
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Stat("dropped_replies"), 2u);
    EXPECT_EQ(sim.Stat("requests"), 0u);
    EXPECT_EQ(sim.StatText("mode"), "boot");
}

TEST(SimProcessLifetime, OnceServesUntilTheHostClosesAfterItsFirstRequest) {
    SimProcess sim({"--once", "--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    // Nobody has opened the port yet: that is no reason to end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(sim.Running());
    {
        HostPort host(sim.SlavePath());
        EXPECT_EQ(host.Read(1, 2, DeviceIdAddress).size(), 2u);
        EXPECT_EQ(host.Read(4, 1, 0xFF), Bytes{0xFF}); // still served after the first request
    }
    EXPECT_EQ(sim.Wait(10000), 0) << sim.Errors();
    EXPECT_EQ(sim.Stat("requests"), 2u);
}

TEST(SimProcessLifetime, InterruptStopsCleanlyAndTheLinkComesAndGoes) {
    TempFolder folder;
    const std::string link = folder.File("COM3");
    ASSERT_TRUE(folder.Write("COM3", "")); // a left-over plain file is not replaced
    {
        SimProcess refused({"--link", link});
        EXPECT_EQ(refused.Wait(10000), 1);
        EXPECT_NE(refused.Errors().find("not a symbolic link"), std::string::npos);
    }
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/null", link); // a stale link from a killed board is

    SimProcess sim({"--link", link, "--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.SlavePath());
    {
        HostPort host(link);
        EXPECT_EQ(host.Read(1, 2, DeviceIdAddress).size(), 2u);
    }
    ASSERT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(sim.Stat("requests"), 1u);
}

TEST(SimProcessLifetime, DamagedLoadFileEndsBeforeServing) {
    TempFolder folder;
    ASSERT_TRUE(folder.Write("bad.hex", ":10020000000102030405060708090A0B0C0D0E0F00\n"));
    SimProcess sim({"--load", folder.File("bad.hex")});
    EXPECT_FALSE(sim.Ok());
    EXPECT_EQ(sim.Wait(10000), 1);
    EXPECT_NE(sim.Errors().find("bad.hex:1: checksum mismatch"), std::string::npos) << sim.Errors();
}

// Also the time from the board's start to its first erase request, which a station's bench
// reads.
TEST(SimProcessPacing, RepliesWaitForTheModelledTime) {
    using Ms = std::chrono::duration<double, std::milli>;
    const auto launched = std::chrono::steady_clock::now();
    SimProcess sim({"--pace", "--erase-ms", "40", "--stats"});
    ASSERT_TRUE(sim.Ok()) << sim.Errors();
    const auto ready = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration took{};
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point firstErased;
    {
        HostPort host(sim.SlavePath());
        start = std::chrono::steady_clock::now();
        for (std::uint32_t row = 0; row < 5; ++row) {
            ASSERT_GE(BootErase(host.Handle(), 0x200 + row * 64, 1, 3), 0);
            firstErased = row == 0 ? std::chrono::steady_clock::now() : firstErased;
        }
        took = std::chrono::steady_clock::now() - start;
    }
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_GE(took, std::chrono::milliseconds(200));
    const double modelled = std::stod(sim.StatText("modelled_ms"));
    EXPECT_GE(modelled, 200.0);
    EXPECT_LT(modelled, 210.0); // five erase requests and replies on the wire: under 10 ms
    const double firstErase = std::stod(sim.StatText("first_erase_ms"));
    EXPECT_GE(firstErase, Ms(start - ready).count());
    EXPECT_LE(firstErase, Ms(firstErased - launched).count());
}

} // namespace
