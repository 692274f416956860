// Serial numbers against simulated boards: where each number goes, and how numbers are handed
// out across boards, runs and failures.

#include "tests/cli/SerialFixture.h"
#include "tests/support/CaseName.h"

#include "res/Version.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

using testing::HasSubstr;

// Three stations, each with its own ports folder and four boards, share one counter while a
// cleaning script deletes the files beside it every millisecond: a lock file an earlier version
// left, and the checkpoint. The lock is on the journal itself.
TEST_F(SerialTest, ThreeFourBoardRunsTakeTwelveNumbersThoughFilesBesideTheCounterAreDeleted) {
    folder_.Create("c.txt.lock", "");
    std::map<std::string, SimBoard*> byDevice;
    std::vector<std::string> args{"flash",  ExampleHex(),   "--record", "r.jsonl", "--port", "COM3",
                                  "--port", "COM4",         "--port",   "COM5",    "--port", "COM6",
                                  "--tag",  "operator=ann", "--tag",    "lot=7"};
    args.insert(args.end(), Counter.begin(), Counter.end());
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (const std::string station : {"a", "b", "c"}) {
        const std::string ports = Station(station, byDevice);
        runs.push_back(
            std::make_unique<ChildProcess>("tervix-flash", args, folder_.Path(),
                                           std::vector<std::string>{"TERVIX_PORTS=" + ports}));
    }
    std::atomic<bool> done = false;
    std::thread cleaner([&] {
        while (!done) {
            std::filesystem::remove(folder_.File("c.txt.lock"));
            std::filesystem::remove(folder_.File("c.txt.checkpoint"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (const auto& run : runs) {
        EXPECT_EQ(run->Wait(ProcessTimeoutMs), 0) << run->Err();
    }
    done = true;
    cleaner.join();

    std::set<std::string> serials;
    for (const nlohmann::json& record : Lines(folder_.Read("r.jsonl"))) {
        EXPECT_EQ(record["tags"], nlohmann::json({{"operator", "ann"}, {"lot", "7"}}));
        EXPECT_EQ(record["tool_version"], TervixVersion);
        const std::string serial = record["serial"];
        serials.insert(serial);
        SimBoard& board = *byDevice.at(record["device_path"].get<std::string>());
        board.Stop();
        EXPECT_EQ(board.Bytes(EepromBase + 0x10, 4),
                  U32le(static_cast<std::uint32_t>(std::stoul(serial))))
            << serial;
        EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), serial),
                  (std::vector<std::string>{"reserved", "used"}));
    }
    std::set<std::string> expected;
    for (int serial = 1000; serial < 1012; ++serial) {
        expected.insert(std::to_string(serial));
    }
    EXPECT_EQ(serials, expected);
    EXPECT_EQ(Lines(folder_.Read("c.txt.journal")).size(), 1u + 2 * 12);
    EXPECT_EQ(folder_.Read("c.txt"), "1012\n");
}

// Every name of one counter is one counter: a station reaching it through a link takes its
// numbers from the same journal, under the same lock, and the link stays a link.
TEST_F(SerialTest, ACounterReachedThroughALinkIsOneCounter) {
    ASSERT_TRUE(std::filesystem::create_directories(folder_.File("shared")));
    ASSERT_TRUE(std::filesystem::create_directories(folder_.File("st2")));
    ASSERT_EQ(Flash({"serial", "init", "shared/C", "--start", "2001"}).Status, 0);
    std::filesystem::create_symlink("../shared/C", folder_.File("st2/C"));
    AddBoard("COM3");
    AddBoard("COM4");
    const std::vector<std::string> through = {"--serial-at", "eeprom:0x10",      "--serial-format",
                                              "u32le",       "--serial-counter", "st2/C"};
    const std::vector<std::string> direct = {"--serial-at", "eeprom:0x10",      "--serial-format",
                                             "u32le",       "--serial-counter", "shared/C"};
    const Run first = FlashWith({"COM3"}, through);
    ASSERT_EQ(first.Status, 0) << first.Err;
    const Run second = FlashWith({"COM4"}, direct);
    ASSERT_EQ(second.Status, 0) << second.Err;

    const std::vector<nlohmann::json> records = Lines(folder_.Read("r.jsonl"));
    EXPECT_EQ(records.at(0)["serial"], "2001");
    EXPECT_EQ(records.at(1)["serial"], "2002");
    EXPECT_TRUE(std::filesystem::is_symlink(folder_.File("st2/C")));
    EXPECT_FALSE(std::filesystem::exists(folder_.File("st2/C.journal")));
    EXPECT_EQ(folder_.Read("shared/C"), "2003\n");
    for (const std::string serial : {"2001", "2002"}) {
        EXPECT_EQ(JournalEvents(folder_.Read("shared/C.journal"), serial),
                  (std::vector<std::string>{"reserved", "used"}));
    }
}

TEST_F(SerialTest, AFailedBoardGivesItsNumberToTheNext) {
    AddBoard("COM3", {"--stuck", "0x21A=0x00"});
    SimBoard& good = AddBoard("COM4");
    const Run failed = FlashWith({"COM3"});
    EXPECT_EQ(failed.Status, 4) << failed.Err;
    const Run passed = FlashWith({"COM4"});
    ASSERT_EQ(passed.Status, 0) << passed.Err;

    const std::vector<nlohmann::json> records = Lines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0]["serial"].is_null());
    EXPECT_EQ(records[1]["serial"], "1000");
    EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "released", "reserved", "used"}));
    good.Stop();
    EXPECT_EQ(good.Bytes(EepromBase + 0x10, 4), U32le(1000));
    EXPECT_EQ(folder_.Read("c.txt"), "1001\n");
}

TEST_F(SerialTest, ARunKilledAfterReservingSpoilsItsNumber) {
    AddBoard("COM3", {"--pace"});
    SimBoard& next = AddBoard("COM4");
    auto killed = StartFlash({"flash", ExampleHex(), "--port", "COM3", "--serial-at", "eeprom:0x10",
                              "--serial-format", "u32le", "--serial-counter", "c.txt"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (folder_.Read("c.txt.journal").find("reserved") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    killed->Signal(SIGKILL);
    ASSERT_EQ(killed->Wait(ProcessTimeoutMs), 128 + SIGKILL);

    const Run passed = FlashWith({"COM4"});
    ASSERT_EQ(passed.Status, 0) << passed.Err;
    EXPECT_EQ(Lines(folder_.Read("r.jsonl")).back()["serial"], "1001");
    EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "spoiled"}));
    const Run status = Flash({"serial", "status", "c.txt"});
    EXPECT_THAT(status.Out, HasSubstr("next number 1002"));
    EXPECT_THAT(status.Out, HasSubstr("used 1, released 0, spoiled 1, kept 0, reserved now 0"));
    next.Stop();
    EXPECT_EQ(next.Bytes(EepromBase + 0x10, 4), U32le(1001));
}

TEST_F(SerialTest, AListUsedToItsEndStopsTheNextBoardBeforeTheErase) {
    MakeList("list.txt", "00:11:22:33:44:55\n");
    SimBoard& first = AddBoard("COM3");
    SimBoard& second = AddBoard("COM4");
    const std::vector<std::string> list = {"--serial-at", "program:0x7F00", "--serial-format",
                                           "bytes",       "--serial-list",  "list.txt"};
    ASSERT_EQ(FlashWith({"COM3"}, list).Status, 0);
    const Run refused = FlashWith({"COM4"}, list);
    EXPECT_EQ(refused.Status, 2);
    EXPECT_THAT(
        refused.Err,
        HasSubstr("no value of list.txt is left: 1 used, 0 reserved, 0 spoiled, 0 kept of 1"));
    first.Stop();
    second.Stop();
    EXPECT_EQ(first.Bytes(0x7F00, 6),
              (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(second.Stat("erase_program"), 0u);
}

TEST_F(SerialTest, KeepLeavesABoardItsNumberAcrossAReflash) {
    SimBoard& board = AddBoard("COM3");
    const std::vector<std::string> program = {"--serial-at",  "program:0x7F00",   "--serial-format",
                                              "u32le",        "--serial-counter", "c.txt",
                                              "--serial-keep"};
    ASSERT_EQ(FlashWith({"COM3"}, program).Status, 0);
    const Run again = FlashWith({"COM3"}, program);
    ASSERT_EQ(again.Status, 0) << again.Err;
    const std::vector<nlohmann::json> records = Lines(folder_.Read("r.jsonl"));
    EXPECT_EQ(records[0]["serial"], "1000");
    EXPECT_EQ(records[1]["serial"], "1000");
    EXPECT_THAT(records[1]["result"].get<std::string>(), HasSubstr("serial 1000 kept"));
    EXPECT_EQ(folder_.Read("c.txt"), "1001\n");
    board.Stop();
    EXPECT_EQ(board.Bytes(0x7F00, 4), U32le(1000));
}
