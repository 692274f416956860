// The production-line commands against simulated boards: several boards at once with a record
// of each, verify and erase, the command lines refused before any board is touched, and which
// ports a run opens and what it says about each.

#include "link/ComPort.h"
#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using testing::HasSubstr;

namespace {

const std::vector<std::string> RecordKeys = {
    "time",    "host",         "command",     "port",     "device_path",
    "device",  "file",         "sha256",      "rows",     "requests",
    "seconds", "result",       "exit_status", "serial",   "serial_unverified",
    "tags",    "tool_version", "station",     "position", "project"};

std::vector<std::string> KeysOf(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) {
        keys.push_back(key);
    }
    return keys;
}

std::string Sha256Of(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        static const char* Digits = "0123456789abcdef";
        hex += Digits[digest[i] >> 4];
        hex += Digits[digest[i] & 0xF];
    }
    return hex;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Program memory bytes of the file: the space the tests' stuck bytes and erases concern.
void ExpectProgramHolds(const SimBoard& board, const HexImage& image) {
    for (const auto& [address, byte] : image) {
        if (address < 0x8000) {
            const auto it = board.Memory().find(address);
            ASSERT_NE(it, board.Memory().end()) << std::hex << address;
            EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
        }
    }
}

} // namespace

TEST_F(CliTest, ThreeBoardsAtOnceEachGetTheFileAFolderAndARecordLine) {
    std::vector<SimBoard*> boards = {&AddBoard("COM3"), &AddBoard("COM4"), &AddBoard("COM5")};
    const Run run = Flash({"flash", ExampleHex(), "--port", "COM3", "--port", "COM4", "--port",
                           "COM5", "--record", Path("boards.jsonl")});
    ASSERT_EQ(run.Status, 0) << run.Err << run.Out;
    EXPECT_THAT(run.Out, HasSubstr("3 boards: 3 succeeded, 0 failed"));
    std::istringstream table(run.Out);
    for (std::string line; std::getline(table, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }

    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("boards.jsonl"));
    ASSERT_EQ(records.size(), 3u);
    std::set<std::string> ports;
    for (const nlohmann::ordered_json& record : records) {
        EXPECT_EQ(KeysOf(record), RecordKeys);
        EXPECT_EQ(record["sha256"], Sha256Of(ReadAll(ExampleHex())));
        EXPECT_EQ(record["file"], ExampleHex());
        EXPECT_EQ(record["command"], "flash");
        EXPECT_EQ(record["device"], 33);
        EXPECT_EQ(record["rows"], 8);
        EXPECT_EQ(record["exit_status"], 0);
        EXPECT_GT(record["requests"].get<int>(), 504);
        ports.insert(record["port"].get<std::string>());
    }
    EXPECT_EQ(ports, (std::set<std::string>{"COM3", "COM4", "COM5"}));
    for (std::size_t i = 0; i < boards.size(); ++i) {
        boards[i]->Stop();
        ExpectProgramHolds(*boards[i], ReadHexImage(ExampleHex()));
        EXPECT_EQ(boards[i]->StatText("mode"), "run");
        // Each board's programming log in a folder of its own, one line per row.
        const std::string log = folder_.Read("COM" + std::to_string(3 + i) + "/temp.log");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
    }
}

TEST_F(CliTest, OneBoardFailingDoesNotStopTheOthers) {
    SimBoard& first = AddBoard("COM3");
    SimBoard& stuck = AddBoard("COM4", {"--stuck", "0x21A=0x00"});
    SimBoard& last = AddBoard("COM5");
    const Run run = Flash({"flash", ExampleHex(), "--all", "--json"});
    EXPECT_EQ(run.Status, 4) << run.Err;
    std::map<std::string, int> statuses;
    for (const nlohmann::ordered_json& record : JsonLines(run.Out)) {
        statuses[record["port"].get<std::string>()] = record["exit_status"].get<int>();
        if (record["port"] == "COM4") {
            EXPECT_THAT(record["result"].get<std::string>(),
                        HasSubstr("verify mismatch at row 0x0210"));
        }
    }
    EXPECT_EQ(statuses, (std::map<std::string, int>{{"COM3", 0}, {"COM4", 4}, {"COM5", 0}}));
    first.Stop();
    stuck.Stop();
    last.Stop();
    ExpectProgramHolds(first, ReadHexImage(ExampleHex()));
    ExpectProgramHolds(last, ReadHexImage(ExampleHex()));
    EXPECT_EQ(stuck.StatText("mode"), "boot");
}

namespace {

struct VerifyCase {
    std::string name;
    std::vector<std::string> board;
    int status;
    std::vector<std::string> errors;
};

class VerifyRun : public CliTest, public testing::WithParamInterface<VerifyCase> {};

} // namespace

TEST_P(VerifyRun, ComparesTheFilesBytesAndWritesNothing) {
    const VerifyCase& c = GetParam();
    SimBoard& board = AddBoard("COM3", c.board);
    const Run run = Flash({"verify", ExampleHex(), "--port", "COM3", "--json"});
    EXPECT_EQ(run.Status, c.status) << run.Err;
    for (const std::string& error : c.errors) {
        EXPECT_THAT(run.Err, HasSubstr(error));
    }
    const std::vector<nlohmann::ordered_json> records = JsonLines(run.Out);
    ASSERT_EQ(records.size(), 1u) << run.Out;
    EXPECT_EQ(records[0]["command"], "verify");
    EXPECT_EQ(records[0]["exit_status"], c.status);
    EXPECT_EQ(records[0]["rows"], 8);
    board.Stop();
    EXPECT_EQ(
        board.Stat("write_program") + board.Stat("write_eeprom") + board.Stat("erase_program"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Verify, VerifyRun,
    testing::Values(
        VerifyCase{"FlashedBoardIsEqual", {"--load", ExampleHex()}, 0, {}},
        // 0x21A holds the example's byte 0x8A.
        VerifyCase{"StuckByteIsNamed",
                   {"--load", ExampleHex(), "--stuck", "0x21A=0x00"},
                   4,
                   {"  0x021A: file 0x8A, board 0x00\n", "1 of ", "bytes differ from",
                    "the first at 0x021A"}},
        VerifyCase{"BlankBoardNamesTenAndCountsTheRest", {}, 4, {"  0x0200: file ", "more\n"}}),
    CaseName());

namespace {

struct EraseCase {
    std::string name;
    std::vector<std::string> range;
    std::string summary;
    std::uint32_t first; // the span left blank
    std::uint32_t last;
};

class EraseRun : public CliTest, public testing::WithParamInterface<EraseCase> {};

} // namespace

// The erased board is left in boot mode, flagged before its first erase.
TEST_P(EraseRun, BlanksTheSpanAndNothingElse) {
    const EraseCase& c = GetParam();
    SimBoard& erased = AddBoard("COM3", {"--load", InRunMode(ExampleHex())});
    SimBoard& untouched = AddBoard("COM4", {"--load", InRunMode(ExampleHex())});
    std::vector<std::string> args{"erase", "--port", "COM3"};
    args.insert(args.end(), c.range.begin(), c.range.end());
    const Run run = Flash(args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr(c.summary));
    erased.Stop();
    untouched.Stop();
    EXPECT_EQ(erased.StatText("violations"), "0");
    EXPECT_EQ(erased.Stat("erases_in_run_mode"), 0u);
    EXPECT_EQ(erased.StatText("mode"), "boot");
    EXPECT_EQ(untouched.StatText("mode"), "run");
    for (const auto& [address, byte] : erased.Memory()) {
        if (address == EepromBase + 0xFF) {
            continue; // the run-mode flag, above
        }
        if (address >= c.first && address <= c.last) {
            ASSERT_EQ(byte, 0xFF) << "at 0x" << std::hex << address;
        } else {
            ASSERT_EQ(byte, untouched.Memory().at(address)) << "at 0x" << std::hex << address;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Erase, EraseRun,
    testing::Values(
        EraseCase{
            "ApplicationAreaByDefault", {}, "504 blocks erased, 0x200 to 0x7FFF", 0x200, 0x7FFF},
        // The example's code runs from 0x200 to 0x25F: its first 64 bytes stay.
        EraseCase{
            "OneBlock", {"--from", "0x240", "--to", "0x27F"}, "1 block erased", 0x240, 0x27F}),
    CaseName());

TEST_F(CliTest, EveryRunAppendsItsBoardsLineEvenWhenItFails) {
    AddBoard("COM3", {"--device-id", "0x0404"});
    AddBoard("COM4");
    EXPECT_EQ(Flash({"flash", ExampleHex(), "--port", "COM3", "--record", Path("r.jsonl")}).Status,
              1);
    EXPECT_EQ(Flash({"erase", "--port", "COM4", "--record", Path("r.jsonl"), "--quiet"}).Status, 0);
    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["device"], 32);
    EXPECT_EQ(records[0]["exit_status"], 1);
    EXPECT_THAT(records[0]["result"].get<std::string>(), HasSubstr("wrong device on COM3"));
    EXPECT_EQ(records[0]["sha256"], Sha256Of(ReadAll(ExampleHex())));
    EXPECT_EQ(records[1]["command"], "erase");
    EXPECT_EQ(records[1]["device"], 33);
    EXPECT_TRUE(records[1]["file"].is_null());
    EXPECT_TRUE(records[1]["sha256"].is_null());
    // The device read, boot mode written and read back, 504 erase requests.
    EXPECT_EQ(records[1]["requests"], 507);
}

// The board goes away while the run erases it: that board fails on its own, the other finishes.
TEST_F(CliTest, ABoardUnpluggedMidRunFailsAlone) {
    AddBoard("COM3", {"--pace"});
    SimBoard& unplugged = AddBoard("COM4", {"--pace", "--erase-ms", "20"});
    std::unique_ptr<ChildProcess> flash = StartFlash(
        {"flash", ExampleHex(), "--port", "COM3", "--port", "COM4", "--timeout-ms", "300"});
    ASSERT_TRUE(flash->AwaitError("COM4: erase", ProcessTimeoutMs)) << flash->Err();
    unplugged.Stop();
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), 3) << flash->Err();
    EXPECT_THAT(flash->Out(), HasSubstr("COM3        33    8"));
    EXPECT_THAT(flash->Out(), HasSubstr("2 boards: 1 succeeded, 1 failed"));
    EXPECT_THAT(flash->Err(), HasSubstr("COM4: FAILED (exit 3): erase failed at 0x"));
}

namespace {

struct Refusal {
    std::string name;
    std::vector<std::string> args; // "DEVICE" stands for COM3's device path
    int status;
    std::string error;
};

class RefusedRun : public CliTest, public testing::WithParamInterface<Refusal> {};

} // namespace

TEST_P(RefusedRun, BeforeAnyBoardIsTouched) {
    const Refusal& r = GetParam();
    SimBoard& board = AddBoard("COM3");
    AddBoard("COM4");
    // FW is a copy of the example in the test's folder, FWLINK another name of that copy.
    const std::string firmware = folder_.Create("fw.hex", ReadAll(ExampleHex()));
    std::filesystem::create_hard_link(firmware, Path("fwlink.hex"));
    const std::map<std::string, std::string> stands = {{"DEVICE", board.Device()},
                                                       {"HEX", ExampleHex()},
                                                       {"FW", firmware},
                                                       {"FWLINK", Path("fwlink.hex")},
                                                       {"FOLDER", folder_.Path().string()}};
    std::vector<std::string> args = r.args;
    for (std::string& arg : args) {
        arg = stands.contains(arg) ? stands.at(arg) : arg;
    }
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, r.status);
    EXPECT_THAT(run.Err, HasSubstr(r.error));
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
    EXPECT_EQ(folder_.Read("fw.hex"), ReadAll(ExampleHex()));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, RefusedRun,
    testing::Values(Refusal{"SamePortTwice",
                            {"flash", "HEX", "--port", "COM3", "--port", "COM4", "--port", "COM3"},
                            64,
                            "COM3 and COM3 name the same port"},
                    Refusal{"ComNameAndItsDevice",
                            {"verify", "HEX", "--port", "COM3", "--port", "DEVICE"},
                            64,
                            "name the same port"},
                    Refusal{"AllWithPort", {"erase", "--all", "--port", "COM3"}, 64, "excludes"},
                    Refusal{"RecordNotWritable",
                            {"flash", "HEX", "--port", "COM3", "--port", "COM4", "--record",
                             "/nonexistent/boards.jsonl"},
                            2,
                            "cannot write the record /nonexistent/boards.jsonl: No such file"},
                    Refusal{"RecordIsAFolder",
                            {"verify", "HEX", "--port", "COM3", "--record", "FOLDER"},
                            2,
                            "Is a directory"},
                    Refusal{"RecordIsTheHexFile",
                            {"flash", "FW", "--port", "COM3", "--port", "COM4", "--record", "FW"},
                            64,
                            "is the HEX file"},
                    Refusal{"RecordIsTheHexFileByAnotherName",
                            {"flash", "FW", "--port", "COM3", "--record", "FWLINK"},
                            64,
                            "is the HEX file"},
                    Refusal{"EndlessFile",
                            {"verify", "/dev/zero", "--port", "COM3"},
                            2,
                            "cannot read /dev/zero: it holds more than 64 MiB"},
                    Refusal{"BadFileOnce",
                            {"flash", "missing.hex", "--port", "COM3", "--port", "COM4"},
                            2,
                            "cannot read missing.hex"},
                    Refusal{"EraseIntoTheBootBlock",
                            {"erase", "--port", "COM3", "--from", "0x1C0"},
                            64,
                            "0x200 <= from <= to <= 0x7FFF"},
                    Refusal{"ErasePastProgramMemory",
                            {"erase", "--all", "--to", "0x8000"},
                            64,
                            "0x200 <= from <= to <= 0x7FFF"},
                    Refusal{"ErasePartOfABlock",
                            {"erase", "--port", "COM3", "--from", "0x210", "--to", "0x27F"},
                            64,
                            "--from must be a multiple of 0x40"},
                    Refusal{"EraseBackwards",
                            {"erase", "--yes", "--from", "0x400", "--to", "0x3FF"},
                            64,
                            "0x200 <= from <= to <= 0x7FFF"}),
    CaseName());

namespace {

// Opens seen on the watched devices since the last call.
int OpensSeen(int watch) {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            opens += (event->mask & IN_OPEN) != 0 ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return opens;
}

} // namespace

// Three lines that another program keeps cooked at 9600 beside the board on COM6: a named port is
// the only one opened, and a scan that finds nothing on them leaves them as they were.
TEST_F(CliTest, NamedPortIsTheOnlyOneOpenedAndAScanLeavesTheOthersAsFound) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    std::vector<std::unique_ptr<Pty>> lines;
    std::vector<termios> before;
    for (const char* name : {"COM3", "COM4", "COM5"}) {
        const Pty& line = *lines.emplace_back(std::make_unique<Pty>());
        ASSERT_TRUE(line.Ok());
        termios cooked{};
        ASSERT_EQ(tcgetattr(line.HeldSlave(), &cooked), 0);
        cooked.c_lflag |= ICANON | ECHO | ISIG;
        cooked.c_iflag |= ICRNL;
        cooked.c_oflag |= OPOST;
        cooked.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        cfsetispeed(&cooked, B9600);
        cfsetospeed(&cooked, B9600);
        ASSERT_EQ(tcsetattr(line.HeldSlave(), TCSANOW, &cooked), 0);
        ASSERT_EQ(tcgetattr(line.HeldSlave(), &before.emplace_back()), 0);
        std::filesystem::create_symlink(line.SlavePath(), ports_ + "/" + name);
        ASSERT_GE(inotify_add_watch(watch, line.SlavePath().c_str(), IN_OPEN), 0);
    }
    AddBoard("COM6", {"--load", ExampleHex()});

    const Run named = Flash({"verify", ExampleHex(), "--port", "COM6", "--quiet"});
    EXPECT_EQ(named.Status, 0) << named.Err;
    EXPECT_EQ(OpensSeen(watch), 0) << "a port other than COM6 was opened";

    const Run scan = Flash({"verify", ExampleHex(), "--all", "--expect", "1", "--quiet"});
    EXPECT_EQ(scan.Status, 0) << scan.Err;
    EXPECT_GE(OpensSeen(watch), 3) << "the scan did not look at the lines";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        termios after{};
        ASSERT_EQ(tcgetattr(lines[i]->HeldSlave(), &after), 0);
        EXPECT_EQ(after.c_lflag, before[i].c_lflag) << i;
        EXPECT_EQ(after.c_iflag, before[i].c_iflag) << i;
        EXPECT_EQ(after.c_oflag, before[i].c_oflag) << i;
        EXPECT_EQ(after.c_cflag, before[i].c_cflag) << i;
    }
    close(watch);
}

// Each board's process opens its own port only, so siblings never find each other's port in use.
TEST_F(CliTest, FourBoardVerifyRunsNeverFindAPortInUse) {
    std::vector<std::string> args{"verify", ExampleHex(), "--quiet"};
    for (const char* name : {"COM3", "COM4", "COM5", "COM6"}) {
        AddBoard(name, {"--load", ExampleHex()});
        args.insert(args.end(), {"--port", name});
    }
    // Only keeps a broken program from holding the test run for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    const auto started = std::chrono::steady_clock::now();
    int runs = 0;
    for (; runs < 200 && std::chrono::steady_clock::now() < deadline; ++runs) {
        const Run run = Flash(args);
        ASSERT_EQ(run.Status, 0) << "run " << runs << ": " << run.Err;
        ASSERT_THAT(run.Err, testing::Not(HasSubstr("in use"))) << "run " << runs;
    }
    RecordProperty("runs", runs);
    RecordProperty(
        "seconds",
        std::to_string(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()));
    EXPECT_EQ(runs, 200) << "the time bound cut the runs short";
}

namespace {

struct Found {
    std::string port;
    std::vector<std::string> board; // tervix-sim's options; none: the link leads nowhere
    std::string finding;            // the line's end after the device path
    std::optional<int> exit;        // the board's exit status in the records; none: skipped
};

} // namespace

// Every port --all tried is listed with what it held; a board that answered but failed the device
// check is a failed board, not a skipped port.
TEST_F(CliTest, AllListsEveryPortAndFailsTheBoardsThatFailTheDeviceCheck) {
    const std::vector<Found> ports = {
        {"COM3", {}, "device number 33", 0},
        {"COM4", {"--device-id", "0x0400"}, "device number 32: failed the device check", 1},
        {"COM5",
         {"--bad-checksum-every", "1"},
         "replies not understood: the reply failed its checksum \\(code -4\\): failed the "
         "device check",
         1},
        {"COM6", {"--silent"}, "no answer: skipped", std::nullopt},
        {"COM7", {}, "no device: skipped", std::nullopt},
        // Listed, run and recorded under its short name, never as \\.\COM12.
        {"COM12", {}, "device number 33", 0},
    };
    std::map<std::string, std::string> devices;
    for (const Found& port : ports) {
        if (port.port == "COM7") {
            std::filesystem::create_symlink("/dev/tervix-unplugged", ports_ + "/COM7");
            devices[port.port] = "-";
        } else {
            devices[port.port] = AddBoard(port.port, port.board).Device();
        }
    }
    const Run run = Flash({"flash", ExampleHex(), "--all", "--record", Path("r.jsonl")});
    EXPECT_EQ(run.Status, 1) << run.Err;
    std::map<std::string, int> exits;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        exits[record["port"].get<std::string>()] = record["exit_status"].get<int>();
        if (record["port"] == "COM4") {
            EXPECT_EQ(record["device"], 32);
        }
    }
    for (const Found& port : ports) {
        EXPECT_THAT(run.Err,
                    testing::ContainsRegex("(^|\n)" + port.port + " +" + devices[port.port] + " +" +
                                           port.finding + "\n"));
        if (port.exit) {
            EXPECT_EQ(exits[port.port], *port.exit) << port.port;
        } else {
            EXPECT_FALSE(exits.contains(port.port)) << port.port;
        }
    }
    EXPECT_THAT(run.Err, testing::ContainsRegex("COM1 +- +no device: skipped\n"));
    EXPECT_THAT(run.Out, HasSubstr("4 boards: 2 succeeded, 2 failed"));
    EXPECT_THAT(run.Out, testing::ContainsRegex("\nCOM12 +33 "));
    // The ports are looked at together: one silent port costs one short wait for all.
    double seconds = 0;
    const std::size_t at = run.Err.find("failed the device check (");
    ASSERT_NE(at, std::string::npos) << run.Err;
    ASSERT_EQ(std::sscanf(run.Err.c_str() + at, "failed the device check (%lf s)", &seconds), 1);
    RecordProperty("scan_seconds", std::to_string(seconds));
    EXPECT_LT(seconds, 3.0);
}

namespace {

struct ExpectCase {
    std::string name;
    std::vector<std::string> args;
    int status;
    std::string says;
};

class ExpectRun : public CliTest, public testing::WithParamInterface<ExpectCase> {};

} // namespace

TEST_P(ExpectRun, CountsTheBoardsBeforeAnyIsWritten) {
    const ExpectCase& c = GetParam();
    SimBoard& first = AddBoard("COM3");
    SimBoard& second = AddBoard("COM4");
    std::vector<std::string> args{"erase"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, c.status) << run.Err;
    EXPECT_THAT(run.Out + run.Err, HasSubstr(c.says));
    first.Stop();
    second.Stop();
    const std::uint64_t erased = c.status == 0 ? 504 : 0;
    EXPECT_EQ(first.Stat("erase_program"), erased);
    EXPECT_EQ(second.Stat("erase_program"), erased);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ExpectRun,
    testing::Values(
        ExpectCase{
            "TooMany", {"--all", "--expect", "3"}, 1, "expected 3 boards with device 33, found 2"},
        ExpectCase{
            "TooFew", {"--all", "--expect", "1"}, 1, "expected 1 boards with device 33, found 2"},
        ExpectCase{"NamedPortWithoutABoard",
                   {"--port", "COM3", "--port", "COM4", "--port", "COM5", "--expect", "3"},
                   1,
                   "found 2"},
        ExpectCase{"AsExpected", {"--all", "--expect", "2"}, 0, "2 boards: 2 succeeded"}),
    CaseName());

// A device only its owner may open gets no advice to join a group; one the group may use does.
// In the table each refused board has one short cell; the advice follows the table once.
TEST_F(CliTest, RefusedBoardsGetAShortCellAndTheAdviceOnceBelowTheTable) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving the devices other owners and groups needs root";
    }
    // getgrnam keeps its answer in one buffer: each id is taken before the next call.
    const auto groupId = [](const char* name) {
        const group* entry = getgrnam(name);
        return entry != nullptr ? entry->gr_gid : gid_t(0);
    };
    const gid_t uucp = groupId("uucp");
    const gid_t dialout = groupId("dialout");
    ASSERT_TRUE(uucp != 0 && dialout != 0);
    struct Refused {
        std::string port;
        gid_t group;
        mode_t mode;
        std::string cell; // after the device path
    };
    const std::vector<Refused> refused = {
        {"COM3", 0, 0600, " (owner root, group root, crw-------)"},
        {"COM4", uucp, 0060, " (group uucp)"},
        {"COM5", dialout, 0660, " (group dialout)"},
        {"COM6", dialout, 0660, " (group dialout)"},
    };
    std::vector<std::string> args{"flash", ExampleHex()};
    std::vector<std::string> devices;
    for (const Refused& r : refused) {
        devices.push_back(AddBoard(r.port).Device());
        ASSERT_EQ(chown(devices.back().c_str(), 0, r.group), 0);
        ASSERT_EQ(chmod(devices.back().c_str(), r.mode), 0);
        args.insert(args.end(), {"--port", r.port});
    }
    const Run run = FlashAsUser(args);
    EXPECT_EQ(run.Status, 1) << run.Err;
    // A result wraps under its column; the cell is its words, wherever the lines break.
    std::string table = run.Out;
    for (std::size_t at; (at = table.find("\n" + std::string(33, ' '))) != std::string::npos;) {
        table.replace(at, 34, " ");
    }
    for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_THAT(table,
                    HasSubstr("1  permission denied on " + devices[i] + refused[i].cell + "\n"));
    }
    const auto times = [&run](const std::string& text) {
        std::size_t count = 0;
        for (std::size_t at = 0; (at = run.Out.find(text, at)) != std::string::npos; ++at) {
            ++count;
        }
        return count;
    };
    EXPECT_EQ(times("sudo usermod -aG uucp $USER"), 1u);
    EXPECT_EQ(times("sudo usermod -aG dialout $USER"), 1u);
    EXPECT_EQ(times("a udev rule or the administrator must grant you access"), 1u);
    EXPECT_EQ(times("usermod -aG root"), 0u);
}

namespace {

struct FullRecordCase {
    std::string name;
    std::vector<std::string> ports;
    std::string said; // on standard output, or error for one board
};

class FullRecordRun : public CliTest, public testing::WithParamInterface<FullRecordCase> {};

} // namespace

// /dev/full opens for appending and takes no byte: the boards are flashed, and the run says that
// their records are lost instead of ending well. A number is used only with its record line, so
// each board's number, on the board and verified, is spoiled.
TEST_P(FullRecordRun, SaysTheRecordsWereNotWritten) {
    const FullRecordCase& c = GetParam();
    ASSERT_EQ(Flash({"serial", "init", "c.txt", "--start", "1000"}).Status, 0);
    std::vector<std::string> args{
        "flash",       ExampleHex(),      "--record", "/dev/full",        "--serial-at",
        "eeprom:0x10", "--serial-format", "u16le",    "--serial-counter", "c.txt"};
    for (const std::string& port : c.ports) {
        AddBoard(port);
        args.insert(args.end(), {"--port", port});
    }
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, 2) << run.Err;
    EXPECT_THAT(run.Out + run.Err, HasSubstr(c.said));
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
    const std::string journal = folder_.Read("c.txt.journal");
    for (std::size_t i = 0; i < c.ports.size(); ++i) {
        EXPECT_EQ(JournalEvents(journal, std::to_string(1000 + i)),
                  (std::vector<std::string>{"reserved", "spoiled"}))
            << journal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FullRecordRun,
    testing::Values(FullRecordCase{"OneBoard",
                                   {"COM3"},
                                   "cannot append to the record /dev/full: No space left on "
                                   "device; the record of COM3 was not written"},
                    FullRecordCase{"TwoBoards",
                                   {"COM3", "COM4"},
                                   "the records of 2 of the 2 boards were not written to "
                                   "/dev/full: No space left on device"}),
    CaseName());

namespace {

// Where the signal goes: the parent's whole process group (a terminal's Ctrl-C), the parent
// alone (a supervisor), or the process of the first board alone.
enum class SignalTo { Group, Parent, FirstBoard };

struct InterruptCase {
    std::string name;
    std::size_t boards; // one runs in the process itself, several in a child each
    int signal;
    SignalTo to;
    int status;         // the run's
    int boardStatus;    // in the record of each board the signal stopped; the others pass
    std::string result; // how the records of those boards begin
};

class InterruptedRun : public CliTest, public testing::WithParamInterface<InterruptCase> {};

} // namespace

// Paced boards are stopped while they erase: each closes its port between two requests, and
// every board gets its record, written by its own process or, for a process killed before it
// could, by the parent.
TEST_P(InterruptedRun, AccountsForEveryBoardAndLeavesNoChild) {
    const InterruptCase& c = GetParam();
    std::vector<std::string> ports = {"COM3", "COM4", "COM5", "COM6"};
    ports.resize(c.boards);
    std::vector<std::string> args{"flash", ExampleHex(), "--record", Path("r.jsonl")};
    for (const std::string& port : ports) {
        AddBoard(port, {"--pace"});
        args.insert(args.end(), {"--port", port});
    }
    std::unique_ptr<ChildProcess> flash = StartFlash(args, "/dev/null", true);
    for (const std::string& port : ports) {
        const std::string erasing = c.boards > 1 ? port + ": erase" : "erase: ";
        ASSERT_TRUE(flash->AwaitError(erasing, ProcessTimeoutMs)) << flash->Err();
    }
    const std::vector<pid_t> children = ChildrenOf(flash->Pid());
    ASSERT_EQ(children.size(), c.boards > 1 ? c.boards : 0);
    std::set<std::string> stopped(ports.begin(), ports.end());
    switch (c.to) {
    case SignalTo::Group:
        flash->SignalGroup(c.signal);
        break;
    case SignalTo::Parent:
        flash->Signal(c.signal);
        break;
    case SignalTo::FirstBoard: {
        const pid_t first = BoardChild(flash->Pid(), ports[0]);
        ASSERT_GT(first, 0);
        kill(first, c.signal);
        stopped = {ports[0]};
        break;
    }
    }
    EXPECT_EQ(flash->Wait(ProcessTimeoutMs), c.status) << flash->Err();
    EXPECT_TRUE(AllEnd(children, std::chrono::seconds(2)));
    for (auto& board : boards_) {
        const ComHandle port = OpenComPort(board->Device().c_str(), 115200, 100);
        EXPECT_NE(port, InvalidComHandle) << board->Device();
        CloseComPort(port);
    }

    std::set<std::string> recorded;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        const std::string port = record["port"];
        EXPECT_TRUE(recorded.insert(port).second) << port << " has two lines";
        EXPECT_EQ(record["sha256"], Sha256Of(ReadAll(ExampleHex())));
        if (stopped.contains(port)) {
            EXPECT_EQ(record["exit_status"], c.boardStatus) << port;
            EXPECT_THAT(record["result"].get<std::string>(), testing::StartsWith(c.result));
        } else {
            EXPECT_EQ(record["exit_status"], 0) << port;
        }
    }
    EXPECT_EQ(recorded, std::set<std::string>(ports.begin(), ports.end()));
    if (c.to == SignalTo::FirstBoard) {
        EXPECT_THAT(flash->Out(), HasSubstr("2 boards: 1 succeeded, 1 failed"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, InterruptedRun,
    testing::Values(InterruptCase{"SigintToTheGroup", 4, SIGINT, SignalTo::Group, 130, 130,
                                  "interrupted while "},
                    InterruptCase{"SigtermToTheParent", 4, SIGTERM, SignalTo::Parent, 143, 143,
                                  "interrupted while "},
                    // The children stop as on SIGTERM and write their own lines.
                    InterruptCase{"SigkillToTheParent", 4, SIGKILL, SignalTo::Parent, 137, 143,
                                  "interrupted while "},
                    InterruptCase{"SighupToOneBoard", 1, SIGHUP, SignalTo::Parent, 143, 143,
                                  "interrupted while "},
                    InterruptCase{"SigkillToOneBoardsProcess", 2, SIGKILL, SignalTo::FirstBoard, 6,
                                  6, "its process was killed while erasing (status 137)"}),
    CaseName());

// The reader of standard output goes away at once: the boards are still flashed and recorded.
TEST_F(CliTest, AClosedOutputStopsThePrintingOnly) {
    AddBoard("COM3");
    AddBoard("COM4");
    const std::string script = "\"$@\" | true; exit \"${PIPESTATUS[0]}\"";
    ChildProcess shell("/bin/bash",
                       {"-c", script, "bash", BinPath("tervix-flash"), "flash", ExampleHex(),
                        "--port", "COM3", "--port", "COM4", "--json", "--record", Path("r.jsonl")},
                       folder_.Path(),
                       {"TERVIX_PORTS=" + ports_, "TMPDIR=" + folder_.Path().string()});
    EXPECT_EQ(shell.Wait(ProcessTimeoutMs), 0) << shell.Err();
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).size(), 2u);
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
}

namespace {

struct ReplacedCase {
    std::string name;
    std::vector<std::string> ports;
    bool fast;
    bool remove; // the file deleted, else replaced by another
};

class ReplacedFileRun : public CliTest, public testing::WithParamInterface<ReplacedCase> {};

} // namespace

// The file changes once the boards are being erased: boards and records hold the file as it was
// when the run started.
TEST_P(ReplacedFileRun, BoardsAndRecordsKeepTheFileAsItWas) {
    const ReplacedCase& c = GetParam();
    const std::string original = ReadAll(ExampleHex());
    const std::string firmware = folder_.Create("fw.hex", original);
    std::vector<std::string> args{"flash", "fw.hex", "--record", Path("r.jsonl")};
    if (c.fast) {
        args.push_back("--fast");
    }
    for (const std::string& port : c.ports) {
        AddBoard(port, {"--pace"});
        args.insert(args.end(), {"--port", port});
    }
    std::unique_ptr<ChildProcess> flash = StartFlash(args);
    ASSERT_TRUE(flash->AwaitError("erase", ProcessTimeoutMs)) << flash->Err();
    if (c.remove) {
        std::filesystem::remove(firmware);
    } else {
        const std::string other = folder_.Create("other.hex", RowsHex(3, 0x11));
        std::filesystem::rename(other, firmware);
    }
    ASSERT_EQ(flash->Wait(ProcessTimeoutMs), 0) << flash->Err();

    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("r.jsonl"));
    ASSERT_EQ(records.size(), c.ports.size());
    for (const nlohmann::ordered_json& record : records) {
        EXPECT_EQ(record["file"], "fw.hex");
        EXPECT_EQ(record["sha256"], Sha256Of(original));
        // --fast counts the rows its writes carried: the example shares one row between two
        // records.
        EXPECT_EQ(record["rows"], c.fast ? 7 : 8);
    }
    for (auto& board : boards_) {
        board->Stop();
        ExpectProgramHolds(*board, ReadHexImage(ExampleHex()));
    }
    // The run's private copy went with it.
    for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with("tervix-")) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ReplacedFileRun,
    testing::Values(ReplacedCase{"RowByRowOneBoard", {"COM3"}, false, false},
                    ReplacedCase{"FastOneBoard", {"COM3"}, true, true},
                    ReplacedCase{"RowByRowTwoBoards", {"COM3", "COM4"}, false, true},
                    ReplacedCase{"FastTwoBoards", {"COM3", "COM4"}, true, false}),
    CaseName());
