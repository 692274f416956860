// Faults end to end: tervix-flash against a tervix-sim process that loses, garbles, cuts or
// pads its replies, falls silent, reports another chip, holds a stuck byte, or dies in the
// middle of the job. Each run must end with the board equal to the file, or with the exit
// status of the step that failed, within the time its attempts and time-outs allow, and with
// the bootloader's block untouched.

#include "sim/Board.h"
#include "target/HexRecord.h"
#include "target/HexWriter.h"
#include "tests/support/CaseName.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Image = std::map<std::uint32_t, std::uint8_t>;

// Short, so that every lost reply costs little; a board process answers within microseconds,
// and a spurious time-out on a loaded machine only costs one more attempt.
constexpr int TimeoutMs = 100;
constexpr double Timeout = TimeoutMs / 1000.0;
// The profile's retries: the attempts of every exchange but the erase's (5).
constexpr int Attempts = 9;
// The job's pause between erasing and writing, and room for the exchanges themselves.
constexpr double Pause = 1.0;
constexpr double Work = 3.0;

// Every byte of a HEX file by full address (upper address × 65536 + offset).
Image ReadImage(const std::string& path) {
    Image image;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"),
                                                         &std::fclose);
    if (!file) {
        ADD_FAILURE() << "cannot read " << path;
        return image;
    }
    HexRecordReader reader(file.get());
    HexRecord record;
    std::uint32_t upper = 0;
    while (reader.Next(record) == HexStatus::Record && record.Type != HexType::EndOfFile) {
        if (record.Type == HexType::ExtendedLinear) {
            upper = static_cast<std::uint32_t>(record.Data[0] << 8 | record.Data[1]);
        } else if (record.Type == HexType::Data) {
            for (unsigned i = 0; i < record.Count; ++i) {
                image[(upper << 16) + record.Offset + i] = record.Data[i];
            }
        }
    }
    return image;
}

// A few rows more than one erase block's worth in program memory, and EEPROM data.
std::string TestImage() {
    HexWriter hex;
    std::vector<std::uint8_t> program(0x400);
    for (std::size_t i = 0; i < program.size(); ++i) {
        program[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    hex.Add(0x200, program.data(), program.size());
    const std::uint8_t eeprom[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    hex.Add(0xF00010, eeprom, sizeof eeprom);
    return hex.Finish();
}

// Rows from 0x200 up, enough for a few seconds of writing on a paced board.
std::string LargeImage() {
    HexWriter hex;
    std::vector<std::uint8_t> program(0x2000, 0x5A);
    hex.Add(0x200, program.data(), program.size());
    return hex.Finish();
}

enum class Kill { None, DuringErase, DuringWrite };

struct FaultCase {
    std::string name;
    std::vector<std::string> simOptions;
    int exitStatus;
    std::string message; // part of what tervix-flash says on failure
    // Upper bound of the run in seconds, from the board's statistics after it.
    double (*bound)(const std::map<std::string, std::string>& stats);
    Kill kill = Kill::None;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

double Stat(const std::map<std::string, std::string>& stats, const char* key) {
    auto it = stats.find(key);
    return it == stats.end() ? 0.0 : std::stod(it->second);
}

// Each lost or cut reply costs one read time-out before the request goes out again.
double LostReplies(const std::map<std::string, std::string>& stats) {
    return Pause + Work + (Stat(stats, "dropped_replies") + Stat(stats, "cut_replies")) * Timeout;
}
double NoWaiting(const std::map<std::string, std::string>&) {
    return Pause + Work;
}
double DeviceReadFails(const std::map<std::string, std::string>&) {
    return Work + Attempts * Timeout;
}
double BeforeErasing(const std::map<std::string, std::string>&) {
    return Work;
}

class FaultInjection : public testing::TestWithParam<FaultCase> {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        ASSERT_TRUE(folder_.Write("image.hex", TestImage()));
        ASSERT_TRUE(folder_.Write("large.hex", LargeImage()));
        // The board runs an application: its run-mode flag is set.
        ASSERT_TRUE(folder_.Write("run-mode.hex", ":0200000400F00A\n:0100FF000000\n:00000001FF\n"));
        std::filesystem::create_directory(folder_.File("ports"));
    }

    std::vector<std::string> SimOptions(const std::vector<std::string>& extra) const {
        std::vector<std::string> options{
            "--link", folder_.File("ports/COM3"),  "--stats", "--dump", folder_.File("dump.hex"),
            "--load", folder_.File("run-mode.hex")};
        options.insert(options.end(), extra.begin(), extra.end());
        return options;
    }

    std::unique_ptr<ChildProcess> Flash(const std::string& file) const {
        return std::make_unique<ChildProcess>(
            "tervix-flash",
            std::vector<std::string>{"flash", "--port", "COM3", "--timeout-ms",
                                     std::to_string(TimeoutMs), file},
            folder_.Path(), std::vector<std::string>{"TERVIX_PORTS=" + folder_.File("ports")});
    }

    // The board's memory after the run equals the file wherever the file has data, the boot
    // block holds what it held, and the board is in run mode.
    void ExpectBoardEqualsFile(const std::map<std::string, std::string>& stats) const {
        const Image file = ReadImage(folder_.File("image.hex"));
        const Image board = ReadImage(folder_.File("dump.hex"));
        for (const auto& [address, value] : file) {
            auto it = board.find(address);
            ASSERT_TRUE(it != board.end()) << "no dump at 0x" << std::hex << address;
            ASSERT_EQ(it->second, value) << "at 0x" << std::hex << address;
        }
        EXPECT_EQ(stats.at("mode"), "run");
    }

    void ExpectBootBlockIntact(const std::map<std::string, std::string>& stats) const {
        EXPECT_EQ(Stat(stats, "violations"), 0.0);
        const Image board = ReadImage(folder_.File("dump.hex"));
        for (std::uint32_t a = 0; a < BoardMap::BootBlockEnd; ++a) {
            auto it = board.find(a);
            ASSERT_TRUE(it != board.end() && it->second == Board::BootBlockByte(a))
                << "boot block at 0x" << std::hex << a;
        }
    }

    TempFolder folder_;
};

TEST_P(FaultInjection, EndsRightWithinItsBound) {
    const FaultCase& c = GetParam();
    SimProcess sim(SimOptions(c.simOptions));
    ASSERT_TRUE(sim.Ok()) << sim.Errors();

    const auto start = Clock::now();
    auto flash = Flash(folder_.File(c.kill == Kill::DuringWrite ? "large.hex" : "image.hex"));
    ASSERT_TRUE(flash->Started());
    auto killed = start;
    if (c.kill != Kill::None) {
        const char* stage = c.kill == Kill::DuringErase ? "erase: 0 %" : "write: 0 %";
        ASSERT_TRUE(flash->AwaitError(stage, 30000)) << flash->Err();
        // Well inside the paced stage: erasing takes about 2 s, writing (after the 1 s pause)
        // about 10 s.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(c.kill == Kill::DuringErase ? 500 : 2000));
        killed = Clock::now();
        sim.Stop(SIGKILL);
    }
    const int status = flash->Wait(120000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    EXPECT_EQ(status, c.exitStatus) << flash->Err();
    if (!c.message.empty()) {
        EXPECT_NE(flash->Err().find(c.message), std::string::npos) << flash->Err();
    }
    if (c.kill != Kill::None) {
        // Once the board is gone, the step in flight fails within its attempts (the write's
        // read-back is tried twice).
        const double after = std::chrono::duration<double>(Clock::now() - killed).count();
        const double bound = Work + 2 * Attempts * Timeout;
        std::printf("fault %s: exit %d, %.2f s after the board died (bound %.2f s)\n",
                    c.name.c_str(), status, after, bound);
        EXPECT_LT(after, 3 * bound);
        return;
    }

    ASSERT_EQ(sim.Stop(), 0) << sim.Errors();
    const auto stats = sim.Stats();
    const double bound = c.bound(stats);
    std::printf("fault %s: exit %d in %.2f s (bound %.2f s)\n", c.name.c_str(), status, seconds,
                bound);
    EXPECT_LT(seconds, 3 * bound);
    ExpectBootBlockIntact(stats);
    if (c.exitStatus == 0) {
        ExpectBoardEqualsFile(stats);
    }
    // Flagged for the bootloader before its first erase; back in run mode only when every row
    // was verified. A board never erased keeps its application.
    EXPECT_EQ(Stat(stats, "erases_in_run_mode"), 0.0);
    EXPECT_EQ(stats.at("mode"), c.exitStatus == 0 || c.exitStatus == 1 ? "run" : "boot");
}

INSTANTIATE_TEST_SUITE_P(
    Board, FaultInjection,
    testing::Values(
        FaultCase{"NoFault", {}, 0, "", NoWaiting},
        FaultCase{"EveryThirtiethReplyDropped", {"--drop-every", "30"}, 0, "", LostReplies},
        FaultCase{"EveryThirdReplyBadChecksum", {"--bad-checksum-every", "3"}, 0, "", NoWaiting},
        FaultCase{
            "NoiseWithStrayStartAndEscape", {"--noise", "12", "--seed", "7"}, 0, "", NoWaiting},
        FaultCase{"EveryThirtiethReplyCutShort", {"--cut-reply-every", "30"}, 0, "", LostReplies},
        FaultCase{"EveryReplyBadChecksum",
                  {"--bad-checksum-every", "1"},
                  1,
                  "device read failed",
                  BeforeErasing},
        FaultCase{"SilentBoard", {"--silent"}, 1, "device read failed", DeviceReadFails},
        FaultCase{"StuckByte", {"--stuck", "0x210=0x00"}, 4, "verify mismatch", NoWaiting},
        FaultCase{"WrongDeviceId",
                  {"--device-id", "0x0400"},
                  1,
                  "device number 32, expected 33",
                  BeforeErasing},
        FaultCase{
            "BoardKilledWhileErasing", {"--pace"}, 3, "erase failed", nullptr, Kill::DuringErase},
        FaultCase{"BoardKilledWhileWriting", {"--pace"}, 4, "", nullptr, Kill::DuringWrite}),
    CaseName{});

// "temp.log" is created where the job runs; a link planted there in its name must not make the
// job overwrite the file it points to. The job then fails as when the log cannot be created.
TEST_F(FaultInjection, PlantedLogLinkStopsTheJobAndSparesItsTarget) {
    ASSERT_TRUE(folder_.Write("victim.txt", "precious\n"));
    std::filesystem::create_symlink(folder_.File("victim.txt"), folder_.File("temp.log"));
    SimProcess sim(SimOptions({}));
    ASSERT_TRUE(sim.Ok()) << sim.Errors();

    auto flash = Flash(folder_.File("image.hex"));
    EXPECT_EQ(flash->Wait(60000), 2) << flash->Err();
    EXPECT_NE(flash->Err().find("temp.log"), std::string::npos) << flash->Err();
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_EQ(folder_.Read("victim.txt"), "precious\n");
    EXPECT_TRUE(std::filesystem::is_symlink(folder_.File("temp.log")));
    const auto stats = sim.Stats();
    EXPECT_EQ(Stat(stats, "write_program"), 0.0);
    ExpectBootBlockIntact(stats);
}

} // namespace
