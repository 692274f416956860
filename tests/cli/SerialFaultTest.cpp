// Serial numbers when boards and runs fail: a number that may have reached a board is never given
// to another and its record names it, a kept number is journaled before the erase, every number
// journaled as used has its record line, a journal that cannot be written fails the board, and
// what no board of a run may take is refused before any board is touched.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

using testing::HasSubstr;

namespace {

using Clock = std::chrono::steady_clock;

// 900 in u32le at program:0x7F00, after an upper address of 0.
constexpr const char* Number900 = ":020000040000FA\n:047F000084030000F6\n";

std::vector<std::string> Counter(const std::string& place) {
    return {"--serial-at", place, "--serial-format", "u32le", "--serial-counter", "c.txt"};
}

class SerialFaultTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        const Run init = Flash({"serial", "init", "c.txt", "--start", "1000"});
        ASSERT_EQ(init.Status, 0) << init.Err;
    }

    // flash of the example on ports with the options, its records in r.jsonl.
    static std::vector<std::string> FlashArgs(const std::vector<std::string>& ports,
                                              const std::vector<std::string>& options) {
        std::vector<std::string> args{"flash", ExampleHex(), "--record", "r.jsonl"};
        for (const std::string& port : ports) {
            args.insert(args.end(), {"--port", port});
        }
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }

    // An image for --load: the number 900 at program:0x7F00, in run mode.
    std::string Holding900() {
        return InRunMode(folder_.Create("held.hex", std::string(Number900) + ":00000001FF\n"));
    }
};

struct ReachedCase {
    std::string name;
    std::vector<std::string> board;   // tervix-sim's options
    std::vector<std::string> options; // tervix-flash's, beside the counter's
    std::string place;
    std::uint32_t address;      // the place in the board's dump
    std::string interruptAfter; // SIGINT 0.25 s after this; empty: none
    int status;
    std::string error;
    bool holds; // the board ends holding the number whole
};

class NumberThatReachedABoard : public SerialFaultTest,
                                public testing::WithParamInterface<ReachedCase> {};

} // namespace

// The board fails once the number's bytes went out: the number is spoiled, never released, the
// record names it as unverified, and the next board takes the next number.
TEST_P(NumberThatReachedABoard, IsSpoiledAndNamedInTheRecord) {
    const ReachedCase& c = GetParam();
    SimBoard& board = AddBoard("COM3", c.board);
    SimBoard& next = AddBoard("COM4");
    std::vector<std::string> options = Counter(c.place);
    options.insert(options.end(), c.options.begin(), c.options.end());
    std::unique_ptr<ChildProcess> flash = StartFlash(FlashArgs({"COM3"}, options));
    if (!c.interruptAfter.empty()) {
        ASSERT_TRUE(flash->AwaitError(c.interruptAfter, ProcessTimeoutMs)) << flash->Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        flash->Signal(SIGINT);
    }
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), c.status) << flash->Err();
    EXPECT_THAT(flash->Err(), HasSubstr(c.error));
    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0]["serial"].is_null());
    EXPECT_EQ(records[0]["serial_unverified"], "1000");
    EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "spoiled"}));

    const Run passed = Flash(FlashArgs({"COM4"}, Counter(c.place)));
    ASSERT_EQ(passed.Status, 0) << passed.Err;
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).back()["serial"], "1001");
    board.Stop();
    next.Stop();
    if (c.holds) {
        EXPECT_EQ(board.Bytes(c.address, 4), U32le(1000));
    }
    EXPECT_EQ(next.Bytes(c.address, 4), U32le(1001));
}

INSTANTIATE_TEST_SUITE_P(
    Serial, NumberThatReachedABoard,
    testing::Values(ReachedCase{"ReadBackDiffers",
                                {"--stuck", "0x7F01=0x00"},
                                {},
                                "program:0x7F00",
                                0x7F00,
                                "",
                                4,
                                "serial number 1000 at program:0x7F00: verify mismatch at 0x7F01",
                                false},
                    ReachedCase{"ReadBackDiffersFast",
                                {"--stuck", "0x7F03=0x01"},
                                {"--fast"},
                                "program:0x7F00",
                                0x7F00,
                                "",
                                4,
                                "serial number 1000 at program:0x7F00: verify mismatch at 0x7F03",
                                false},
                    // The write of its four EEPROM bytes takes 0.4 s; the stop lets it end, then
                    // stops the read-back.
                    ReachedCase{"StoppedDuringItsWrite",
                                {"--pace", "--eeprom-ms", "100"},
                                {},
                                "eeprom:0x10",
                                EepromBase + 0x10,
                                "write: done",
                                130,
                                "interrupted",
                                true}),
    CaseName());

// A run stopped after the erase took the kept number off the board: the journal and the record
// still name it, and the board, blank now, takes a number of its own next time.
TEST_F(SerialFaultTest, AKeptNumberStaysFindableAcrossAnInterruptedReflash) {
    SimBoard& board = AddBoard("COM3", {"--pace", "--load", Holding900()});
    std::vector<std::string> options = Counter("program:0x7F00");
    options.push_back("--serial-keep");
    std::unique_ptr<ChildProcess> flash = StartFlash(FlashArgs({"COM3"}, options));
    ASSERT_TRUE(flash->AwaitError("erase: done", ProcessTimeoutMs)) << flash->Err();
    EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), "900"),
              std::vector<std::string>{"kept"});
    flash->Signal(SIGINT);
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 130) << flash->Err();
    nlohmann::ordered_json record = JsonLines(folder_.Read("r.jsonl")).back();
    EXPECT_TRUE(record["serial"].is_null());
    EXPECT_EQ(record["serial_unverified"], "900");

    const Run again = Flash(FlashArgs({"COM3"}, options));
    ASSERT_EQ(again.Status, 0) << again.Err;
    record = JsonLines(folder_.Read("r.jsonl")).back();
    EXPECT_EQ(record["serial"], "1000");
    const std::string journal = folder_.Read("c.txt.journal");
    EXPECT_EQ(JournalEvents(journal, "900"), std::vector<std::string>{"kept"});
    EXPECT_EQ(JournalEvents(journal, "1000"), (std::vector<std::string>{"reserved", "used"}));
    board.Stop();
    EXPECT_EQ(board.Bytes(0x7F00, 4), U32le(1000));
}

// The process of a board that kept its number is killed after the erase took the number off: the
// parent writes that board's line, naming the number as unverified, while the other board passes.
TEST_F(SerialFaultTest, AKilledBoardsRecordNamesTheNumberItHad) {
    AddBoard("COM3", {"--pace", "--load", Holding900()});
    AddBoard("COM4", {"--pace"});
    std::vector<std::string> options = Counter("program:0x7F00");
    options.push_back("--serial-keep");
    std::unique_ptr<ChildProcess> flash = StartFlash(FlashArgs({"COM3", "COM4"}, options));
    ASSERT_TRUE(flash->AwaitError("COM3: write", ProcessTimeoutMs)) << flash->Err();
    const pid_t board = BoardChild(flash->Pid(), "COM3");
    ASSERT_GT(board, 0);
    kill(board, SIGKILL);
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 6) << flash->Err();
    std::map<std::string, nlohmann::ordered_json> records;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        records[record["port"]] = record;
    }
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records["COM3"]["exit_status"], 6);
    EXPECT_TRUE(records["COM3"]["serial"].is_null());
    EXPECT_EQ(records["COM3"]["serial_unverified"], "900");
    EXPECT_EQ(records["COM4"]["exit_status"], 0);
    EXPECT_EQ(records["COM4"]["serial"], "1000");
    const std::string journal = folder_.Read("c.txt.journal");
    EXPECT_EQ(JournalEvents(journal, "900"), std::vector<std::string>{"kept"});
    EXPECT_EQ(JournalEvents(journal, "1000"), (std::vector<std::string>{"reserved", "used"}));
}

// The parent is killed at moments swept over the last 200 ms of a run on four paced boards: its
// children stop as on SIGTERM and write their own lines, so every number journaled as used has
// its record line, with the journal's record time, and every board of every run has its line.
TEST_F(SerialFaultTest, EveryNumberUsedHasItsRecordLineWhenTheParentIsKilledAsBoardsFinish) {
    const std::vector<std::string> ports = {"COM3", "COM4", "COM5", "COM6"};
    for (const std::string& port : ports) {
        AddBoard(port, {"--pace"});
    }
    const std::vector<std::string> args = FlashArgs(ports, Counter("eeprom:0x10"));
    const auto started = Clock::now();
    const Run whole = Flash(args);
    ASSERT_EQ(whole.Status, 0) << whole.Err;
    const auto length = Clock::now() - started;
    const std::vector<int> before = {200, 160, 120, 80, 40, 0};
    for (const int ms : before) {
        std::unique_ptr<ChildProcess> flash = StartFlash(args);
        std::this_thread::sleep_for(length - std::chrono::milliseconds(ms));
        const std::vector<pid_t> children = ChildrenOf(flash->Pid());
        flash->Signal(SIGKILL);
        flash->Wait(ProcessTimeoutMs);
        ASSERT_TRUE(AllEnd(children, std::chrono::milliseconds(ProcessTimeoutMs)));
    }

    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    EXPECT_EQ(records.size(), ports.size() * (before.size() + 1));
    std::map<std::string, std::string> recorded; // serial to its record's time
    for (const nlohmann::ordered_json& record : records) {
        if (record["serial"].is_string()) {
            EXPECT_TRUE(recorded.emplace(record["serial"], record["time"]).second)
                << record["serial"] << " is on two boards";
        }
    }
    std::set<std::string> used;
    for (const nlohmann::ordered_json& line : JsonLines(folder_.Read("c.txt.journal"))) {
        if (line["event"] == "used") {
            const std::string serial = line["serial"];
            used.insert(serial);
            ASSERT_TRUE(recorded.contains(serial)) << serial << " is used without a record";
            EXPECT_EQ(line["record_time"], recorded[serial]) << serial;
        }
    }
    EXPECT_EQ(used.size(), recorded.size());
}

// The journal turns into a folder while two boards are written: each board fails with 2 after
// its record line, and the numbers, reserved by processes that have ended, go to no other board.
TEST_F(SerialFaultTest, AJournalThatCannotBeWrittenWhenTheBoardsFinishFailsThem) {
    AddBoard("COM3", {"--pace"});
    AddBoard("COM4", {"--pace"});
    AddBoard("COM5");
    std::unique_ptr<ChildProcess> flash =
        StartFlash(FlashArgs({"COM3", "COM4"}, Counter("eeprom:0x10")));
    // Numbers go in order: once 1001 is reserved, so is 1000.
    const auto deadline = Clock::now() + std::chrono::milliseconds(ProcessTimeoutMs);
    while (JournalEvents(folder_.Read("c.txt.journal"), "1001").empty()) {
        ASSERT_LT(Clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::filesystem::rename(Path("c.txt.journal"), Path("journal.kept"));
    std::filesystem::create_directory(Path("c.txt.journal"));
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 2) << flash->Err();
    EXPECT_THAT(flash->Out(), HasSubstr("2 boards: 0 succeeded, 2 failed"));
    for (const char* port : {"COM3", "COM4"}) {
        EXPECT_THAT(flash->Out(),
                    testing::ContainsRegex(std::string(port) + " .* 2  serial number 100[01]: "));
    }
    std::set<std::string> serials;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        serials.insert(record["serial"].get<std::string>());
    }
    EXPECT_EQ(serials, (std::set<std::string>{"1000", "1001"}));

    std::filesystem::remove(Path("c.txt.journal"));
    std::filesystem::rename(Path("journal.kept"), Path("c.txt.journal"));
    const Run next = Flash(FlashArgs({"COM5"}, Counter("eeprom:0x10")));
    ASSERT_EQ(next.Status, 0) << next.Err;
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).back()["serial"], "1002");
    EXPECT_EQ(JournalEvents(folder_.Read("c.txt.journal"), "1000"),
              (std::vector<std::string>{"reserved", "spoiled"}));
}

namespace {

struct ShortReadCase {
    std::string name;
    std::vector<std::string> args; // after the command and the file
};

class ShortReadOfThePlace : public SerialFaultTest,
                            public testing::WithParamInterface<ShortReadCase> {};

} // namespace

// The board answers the read of the number's place (its second request) one byte short: the
// missing byte is not taken for an erased one, and nothing is erased or written.
TEST_P(ShortReadOfThePlace, FailsTheBoardBeforeAnythingIsWritten) {
    SimBoard& board = AddBoard("COM3", {"--short-read-every", "2", "--load", Holding900()});
    std::vector<std::string> args = GetParam().args;
    args.insert(args.begin() + 1, ExampleHex());
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, 4) << run.Err;
    EXPECT_THAT(run.Err, HasSubstr("reading the serial number at program:0x7F00 failed"));
    board.Stop();
    EXPECT_EQ(board.Stat("short_replies"), 1u);
    EXPECT_EQ(board.Stat("write_program") + board.Stat("write_eeprom"), 0u);
    EXPECT_EQ(board.Bytes(0x7F00, 4), U32le(900));
}

INSTANTIATE_TEST_SUITE_P(
    Serial, ShortReadOfThePlace,
    testing::Values(ShortReadCase{"KeptByFlash",
                                  {"flash", "--port", "COM3", "--serial-at", "program:0x7F00",
                                   "--serial-format", "u32le", "--serial-counter", "c.txt",
                                   "--serial-keep"}},
                    ShortReadCase{"ReadByVerify",
                                  {"verify", "--port", "COM3", "--serial-at", "program:0x7F00",
                                   "--serial-format", "u32le"}}),
    CaseName());

namespace {

struct RefusalCase {
    std::string name;
    std::string file; // the HEX file's text; empty: the example
    std::vector<std::string> ports;
    std::vector<std::string> options;
    int status;
    std::string error;
};

class RefusedForEveryBoard : public SerialFaultTest,
                             public testing::WithParamInterface<RefusalCase> {};

} // namespace

// What one board of the run could not take stops the run before any board is touched.
TEST_P(RefusedForEveryBoard, BeforeAnyBoardIsTouched) {
    const RefusalCase& c = GetParam();
    const Run init = Flash({"serial", "init", "near.txt", "--start", "65000"});
    ASSERT_EQ(init.Status, 0) << init.Err;
    const std::string journal = folder_.Read("near.txt.journal");
    std::vector<std::string> args{"flash",
                                  c.file.empty() ? ExampleHex() : folder_.Create("fw.hex", c.file)};
    for (const std::string& port : c.ports) {
        AddBoard(port);
        args.insert(args.end(), {"--port", port});
    }
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, c.status);
    EXPECT_THAT(run.Err, HasSubstr(c.error));
    for (auto& board : boards_) {
        board->Stop();
        EXPECT_EQ(board->Stat("requests"), 0u);
    }
    EXPECT_EQ(folder_.Read("near.txt.journal"), journal);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, RefusedForEveryBoard,
    testing::Values(
        // 65000 fits two bytes, the second board's 65600 does not.
        RefusalCase{"LastBoardsNumberDoesNotFit",
                    "",
                    {"COM3", "COM4"},
                    {"--serial-at", "eeprom:0x10", "--serial-format", "u16le", "--serial-counter",
                     "near.txt", "--serial-step", "600"},
                    64,
                    "65600 does not fit in 2 bytes"},
        RefusalCase{"PastTheEighthIdLocation",
                    "",
                    {"COM3"},
                    {"--serial-at", "id:0x200005", "--serial-format", "u32le", "--serial-counter",
                     "near.txt"},
                    64,
                    "4 bytes at id:0x200005 leave the ID locations (0x200000-0x200007)"},
        RefusalCase{"FileDataUnderTheLastByteOnly",
                    ":017F0300AAD3\n:00000001FF\n",
                    {"COM3"},
                    {"--serial-at", "program:0x7F00", "--serial-format", "u32le",
                     "--serial-counter", "near.txt"},
                    2,
                    "line 1 holds data for program:0x7F00, where the serial number goes"}),
    CaseName());
