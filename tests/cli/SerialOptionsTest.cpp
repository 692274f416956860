// Serial numbers as the options and serial status see them: each format on the board and read
// back by verify, what a journal adds up to, and what is refused before any board is touched.

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
    EXPECT_EQ(board.Bytes(c.address, c.bytes.size()), c.bytes);
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
