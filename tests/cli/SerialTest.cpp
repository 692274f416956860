// Serial numbers against simulated boards: where each number goes, how numbers are handed out
// across boards, runs and failures, and what is refused before any board is touched.

#include "tests/cli/CliFixture.h"
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

namespace {

std::vector<nlohmann::json> Lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << line;
    }
    return lines;
}

std::vector<std::uint8_t> BytesAt(const SimBoard& board, std::uint32_t address, std::size_t n) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < n; ++i) {
        const auto it = board.Memory().find(address + static_cast<std::uint32_t>(i));
        bytes.push_back(it == board.Memory().end() ? 0xFF : it->second);
    }
    return bytes;
}

std::vector<std::uint8_t> U32le(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// The journal's events for one number, in order.
std::vector<std::string> EventsOf(const std::string& journal, const std::string& serial) {
    std::vector<std::string> events;
    for (const nlohmann::json& line : Lines(journal)) {
        if (line.value("serial", "") == serial) {
            events.push_back(line["event"]);
        }
    }
    return events;
}

const std::vector<std::string> Counter = {"--serial-at", "eeprom:0x10",      "--serial-format",
                                          "u32le",       "--serial-counter", "c.txt"};

class SerialTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        const Run init = Flash({"serial", "init", "c.txt", "--start", "1000"});
        ASSERT_EQ(init.Status, 0) << init.Err;
        initJournal_ = folder_.Read("c.txt.journal");
        ASSERT_EQ(Lines(initJournal_).at(0)["kind"], "counter");
    }

    // A list file with its journal.
    void MakeList(const std::string& name, const std::string& values) {
        folder_.Create(name, values);
        const Run init = Flash({"serial", "init", name, "--list"});
        ASSERT_EQ(init.Status, 0) << init.Err;
    }

    Run FlashWith(const std::vector<std::string>& ports, std::vector<std::string> extra = Counter) {
        std::vector<std::string> args{"flash", ExampleHex(), "--record", "r.jsonl"};
        for (const std::string& port : ports) {
            args.insert(args.end(), {"--port", port});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return Flash(args);
    }

    // Four boards COM3-COM6 in a station folder of their own, each found by its device.
    std::string Station(const std::string& name, std::map<std::string, SimBoard*>& byDevice) {
        const std::string ports = folder_.File(name + "/ports");
        EXPECT_TRUE(std::filesystem::create_directories(ports));
        for (int i = 3; i <= 6; ++i) {
            boards_.push_back(std::make_unique<SimBoard>(
                folder_.File(name), ports, "COM" + std::to_string(i), std::vector<std::string>{}));
            byDevice[boards_.back()->Device()] = boards_.back().get();
        }
        return ports;
    }

    std::string initJournal_;
};

} // namespace

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
        EXPECT_EQ(BytesAt(board, EepromBase + 0x10, 4),
                  U32le(static_cast<std::uint32_t>(std::stoul(serial))))
            << serial;
        EXPECT_EQ(EventsOf(folder_.Read("c.txt.journal"), serial),
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
        EXPECT_EQ(EventsOf(folder_.Read("shared/C.journal"), serial),
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
    EXPECT_EQ(EventsOf(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "released", "reserved", "used"}));
    good.Stop();
    EXPECT_EQ(BytesAt(good, EepromBase + 0x10, 4), U32le(1000));
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
    EXPECT_EQ(EventsOf(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "spoiled"}));
    const Run status = Flash({"serial", "status", "c.txt"});
    EXPECT_THAT(status.Out, HasSubstr("next number 1002"));
    EXPECT_THAT(status.Out, HasSubstr("used 1, released 0, spoiled 1, kept 0, reserved now 0"));
    next.Stop();
    EXPECT_EQ(BytesAt(next, EepromBase + 0x10, 4), U32le(1001));
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
    EXPECT_EQ(BytesAt(first, 0x7F00, 6),
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
    EXPECT_EQ(BytesAt(board, 0x7F00, 4), U32le(1000));
}

namespace {

// A journal line as a run writes it.
std::string Entry(const std::string& event, const std::string& serial, const std::string& port,
                  const std::string& host = "line-3") {
    return nlohmann::ordered_json({{"time", "2026-12-07T16:02:11Z"},
                                   {"event", event},
                                   {"serial", serial},
                                   {"port", port},
                                   {"host", host},
                                   {"pid", 4711},
                                   {"record_time", nullptr}})
               .dump() +
           "\n";
}

struct StatusCase {
    std::string name;
    std::string lines; // after the counter's first line
    int status;
    std::string out;
    std::string err;
};

class SerialStatus : public SerialTest, public testing::WithParamInterface<StatusCase> {};

} // namespace

TEST_P(SerialStatus, ReadsEveryLineAndCountsEachNumberByItsLatest) {
    const StatusCase& c = GetParam();
    ASSERT_TRUE(folder_.Write("c.txt.journal", initJournal_ + c.lines));
    const Run run = Flash({"serial", "status", "c.txt"});
    EXPECT_EQ(run.Status, c.status) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr(c.out));
    EXPECT_THAT(run.Err, HasSubstr(c.err));
}

INSTANTIATE_TEST_SUITE_P(
    Journal, SerialStatus,
    testing::Values(
        // Another computer's reservation is still open; 901 was kept and its board then passed.
        StatusCase{"KeptUsedAndReserved",
                   Entry("reserved", "1000", "COM3") + Entry("used", "1000", "COM3") +
                       Entry("kept", "900", "COM4") + Entry("kept", "901", "COM5") +
                       Entry("used", "901", "COM5") + Entry("reserved", "1001", "COM6", "other"),
                   0,
                   "c.txt: counter, next number 1002\n"
                   "used 2, released 0, spoiled 0, kept 1, reserved now 1\n"
                   "kept, and no line since (the board may have been left blank): 900 (COM4)\n",
                   ""},
        StatusCase{"TornLastLine",
                   Entry("reserved", "1000", "COM3") + "{\"time\":\"2026-12-07T16:0", 0,
                   "used 0, released 0, spoiled 0, kept 0, reserved now 1",
                   "c.txt.journal line 3 was never finished"},
        StatusCase{"DamagedLine",
                   Entry("reserved", "1000", "COM3") + "{\"time\"}\n" +
                       Entry("used", "1000", "COM3"),
                   2, "", "c.txt.journal line 3 is not a journal line"}),
    CaseName());

namespace {

struct FormatCase {
    std::string name;
    std::string at;
    std::string format;
    std::uint32_t address; // where the board's dump has it
    std::vector<std::uint8_t> bytes;
    std::string list; // a list file's one value; empty: the counter at 1000
    std::string shown;
};

class SerialFormatRun : public SerialTest, public testing::WithParamInterface<FormatCase> {};

} // namespace

TEST_P(SerialFormatRun, BytesOnTheBoardAndReadBackByVerify) {
    const FormatCase& c = GetParam();
    SimBoard& board = AddBoard("COM3");
    std::vector<std::string> serial = {"--serial-at", c.at, "--serial-format", c.format};
    if (c.list.empty()) {
        serial.insert(serial.end(), {"--serial-counter", "c.txt"});
    } else {
        MakeList("list.txt", c.list + "\n");
        serial.insert(serial.end(), {"--serial-list", "list.txt"});
    }
    const Run run = FlashWith({"COM3"}, serial);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Lines(folder_.Read("r.jsonl")).back()["serial"], c.shown);
    // The kind comes from the journal: a used-up list of one number is no counter.
    const Run status = Flash({"serial", "status", c.list.empty() ? "c.txt" : "list.txt"});
    EXPECT_THAT(status.Out, HasSubstr(c.list.empty() ? "c.txt: counter, next number 1001"
                                                     : "list.txt: list, 0 of 1 values left"));

    const std::string format =
        c.format == "bytes" ? "bytes:" + std::to_string(c.bytes.size()) : c.format;
    const Run verify = Flash(
        {"verify", ExampleHex(), "--port", "COM3", "--serial-at", c.at, "--serial-format", format});
    EXPECT_EQ(verify.Status, 0) << verify.Err;
    EXPECT_THAT(verify.Out, HasSubstr(": " + c.shown + " (bytes"));
    board.Stop();
    EXPECT_EQ(BytesAt(board, c.address, c.bytes.size()), c.bytes);
    EXPECT_EQ(board.StatText("mode"), "run");
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SerialFormatRun,
    testing::Values(
        FormatCase{"U16le", "eeprom:0x20", "u16le", EepromBase + 0x20, {0xE8, 0x03}, "", "1000"},
        FormatCase{"U16be", "eeprom:0x20", "u16be", EepromBase + 0x20, {0x03, 0xE8}, "", "1000"},
        FormatCase{"U32be", "program:0x7FFC", "u32be", 0x7FFC, {0, 0, 0x03, 0xE8}, "", "1000"},
        FormatCase{
            "U64le", "program:0x7F03", "u64le", 0x7F03, {0xE8, 0x03, 0, 0, 0, 0, 0, 0}, "", "1000"},
        FormatCase{"U64be",
                   "eeprom:0xF7",
                   "u64be",
                   EepromBase + 0xF7,
                   {0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04},
                   "16909060",
                   "16909060"},
        // The example's own ID bytes take 0x200000-0x200003.
        FormatCase{"Ascii", "id:0x200004", "ascii:4", 0x200004, {'1', '0', '0', '0'}, "", "1000"},
        FormatCase{"Hex",
                   "eeprom:0x40",
                   "hex:5",
                   EepromBase + 0x40,
                   {'0', '0', '3', 'E', '8'},
                   "",
                   "1000"},
        FormatCase{
            "Bytes", "id:0x200005", "bytes", 0x200005, {0xDE, 0xAD, 0x01}, "de-ad-01", "DEAD01"}),
    CaseName());

namespace {

struct RefusalCase {
    std::string name;
    std::vector<std::string> options;
    int status;
    std::string error;
};

class SerialRefusal : public SerialTest, public testing::WithParamInterface<RefusalCase> {};

} // namespace

TEST_P(SerialRefusal, BeforeAnyBoardIsTouched) {
    const RefusalCase& c = GetParam();
    MakeList("big.txt", "70000\n");
    folder_.Create("bare.txt", "5\n");
    folder_.Create("other.txt", "5\n");
    folder_.Create("other.txt.journal", initJournal_);
    SimBoard& board = AddBoard("COM3");
    const Run run = FlashWith({"COM3"}, c.options);
    EXPECT_EQ(run.Status, c.status);
    EXPECT_THAT(run.Err, HasSubstr(c.error));
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
    EXPECT_EQ(folder_.Read("c.txt.journal"), initJournal_);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, SerialRefusal,
    testing::Values(
        // Line 16 holds the example's EEPROM bytes 0x00-0x07.
        RefusalCase{
            "FileDataOverThePlace",
            {"--serial-at", "eeprom:0x6", "--serial-format", "u16le", "--serial-counter", "c.txt"},
            2,
            "line 16 holds data for eeprom:0x0006, where the serial number goes"},
        RefusalCase{
            "ValueTooLarge",
            {"--serial-at", "eeprom:0x10", "--serial-format", "u16le", "--serial-list", "big.txt"},
            64,
            "70000 does not fit in 2 bytes"},
        RefusalCase{
            "OverTheRunModeFlag",
            {"--serial-at", "eeprom:0xFE", "--serial-format", "u16le", "--serial-counter", "c.txt"},
            64,
            "leave the data EEPROM below the run-mode flag"},
        RefusalCase{"InTheBootBlock",
                    {"--serial-at", "program:0x100", "--serial-format", "u16le", "--serial-counter",
                     "c.txt"},
                    64,
                    "leave the application area of program memory"},
        RefusalCase{"NoCounter",
                    {"--serial-at", "eeprom:0x10", "--serial-format", "u16le", "--serial-counter",
                     "none.txt"},
                    2,
                    "none.txt does not exist; make it with tervix-flash serial init"},
        // It may have given out values already: starting again could give them twice.
        RefusalCase{
            "ListWithoutItsJournal",
            {"--serial-at", "eeprom:0x10", "--serial-format", "u16le", "--serial-list", "bare.txt"},
            2,
            "bare.txt has no journal"},
        RefusalCase{
            "ListWithACountersJournal",
            {"--serial-at", "eeprom:0x10", "--serial-format", "u16le", "--serial-list",
             "other.txt"},
            2,
            "other.txt.journal is the journal of a counter, and other.txt is read as a list"},
        RefusalCase{
            "OtherFirmware", {"--expect-sha256", std::string(64, '0')}, 2, "not the expected 0000"},
        RefusalCase{"TagWithoutValue", {"--tag", "operator"}, 64, "give KEY=VALUE"}),
    CaseName());
