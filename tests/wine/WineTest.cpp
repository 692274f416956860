// tervix-flash.exe under Wine, through CreateFileA on COM names exactly as on a Windows PC: the
// board is a tervix-sim process behind a dosdevices link.

#include "tests/support/CaseName.h"
#include "tests/wine/WineFixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using testing::HasSubstr;

namespace {

// The board holds every byte of the file in the spaces the default profile writes: program
// memory and data EEPROM.
void ExpectHolds(const SimBoard& board, const HexImage& image) {
    for (const auto& [address, byte] : image) {
        if (address >= 0x200000 && address < EepromBase) {
            continue;
        }
        const auto it = board.Memory().find(address);
        ASSERT_NE(it, board.Memory().end()) << std::hex << address;
        EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
    }
}

// "name=value" lines of the port probe (a Windows program: lines end in CR LF).
std::map<std::string, std::string> Findings(const std::string& out) {
    std::map<std::string, std::string> findings;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto equals = line.find('='); equals != std::string::npos) {
            const auto end = line.find_last_not_of('\r') + 1;
            findings[line.substr(0, equals)] = line.substr(equals + 1, end - equals - 1);
        }
    }
    return findings;
}

// What a case prepares before tervix-flash runs: nothing, a file the programmer would stop on,
// or a "temp.log" that cannot be written.
enum class Before { Nothing, BadFile, ReadOnlyLog };

// Each case links its own COM number, so cases running side by side share no port.
struct FlashCase {
    std::string name;
    int com;
    std::string port;
    std::vector<std::string> board = {};
    Before before = Before::Nothing;
    int status = 0;
    std::string message;
};

// Test names show the case's name, not its bytes.
void PrintTo(const FlashCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string BadFile = ":020000040000FA\n:10020000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEE\n"
                            ":00000001FF\n";

class WineFlashTest : public WineTest, public testing::WithParamInterface<FlashCase> {};

} // namespace

TEST_P(WineFlashTest, ExitsWithTheStageThatFailed) {
    const FlashCase& c = GetParam();
    SimBoard& board = AddComBoard(c.com, c.board);
    std::string file = ExampleHex();
    if (c.before == Before::BadFile) {
        file = folder_.Create("bad.hex", BadFile);
    } else if (c.before == Before::ReadOnlyLog) {
        std::filesystem::permissions(folder_.Create("temp.log", "kept\n"),
                                     std::filesystem::perms::owner_read);
    }
    const auto started = std::chrono::steady_clock::now();
    const Run run =
        Windows("tervix-flash", {"flash", "--port", c.port, "--timeout-ms", "200", WinPath(file)});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(run.Status, c.status) << run.Out << run.Err;
    EXPECT_THAT(run.Out + run.Err, HasSubstr(c.message));
    // Nine attempts of 0.2 s at most per request, the 1 s pause, and Wine's start.
    EXPECT_LT(seconds, 20.0);

    board.Stop();
    EXPECT_EQ(board.Stat("violations"), 0u);
    if (c.before != Before::Nothing) {
        EXPECT_EQ(board.Stat("requests"), 0u) << "a refused job must not touch the board";
    }
    if (c.before == Before::ReadOnlyLog) {
        EXPECT_EQ(folder_.Read("temp.log"), "kept\n");
    }
    if (c.status == 0) {
        ExpectHolds(board, ReadHexImage(ExampleHex()));
        EXPECT_EQ(board.StatText("mode"), "run");
        // The programmer's log lands in the working folder: one line per row sent.
        const std::string log = folder_.Read("temp.log");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boards, WineFlashTest,
    testing::Values(FlashCase{.name = "FullFlash",
                              .com = 3,
                              .port = "COM3",
                              .message = "8 rows written and verified, run mode set"},
                    FlashCase{.name = "DeviceNamespaceName",
                              .com = 12,
                              .port = "\\\\.\\COM12",
                              .message = "run mode set"},
                    FlashCase{.name = "WrongDevice",
                              .com = 4,
                              .port = "COM4",
                              .board = {"--device-id", "0x0400"},
                              .status = 1,
                              .message = "device number 32, expected 33"},
                    FlashCase{.name = "SilentBoard",
                              .com = 5,
                              .port = "COM5",
                              .board = {"--silent"},
                              .status = 1,
                              .message = "device read failed"},
                    FlashCase{.name = "StuckByte",
                              .com = 6,
                              .port = "COM6",
                              .board = {"--stuck", "0x220=0x00"},
                              .status = 4,
                              .message = "verify mismatch at row 0x0220"},
                    FlashCase{.name = "BadFileBeforeErase",
                              .com = 7,
                              .port = "COM7",
                              .before = Before::BadFile,
                              .status = 2,
                              .message = "nothing was written"},
                    FlashCase{.name = "ReadOnlyLogBeforeErase",
                              .com = 13,
                              .port = "\\\\.\\COM13",
                              .before = Before::ReadOnlyLog,
                              .status = 2,
                              .message = "cannot write temp.log here"}),
    CaseName());

// A previous program may leave XON/XOFF on: the image's 0x11 and 0x13 bytes, and the read-back
// of them, must still pass unchanged. Closing gives the port back to that program as it was.
TEST_F(WineTest, SoftwareFlowControlLeftOnIsCleared) {
    SimBoard& board = AddComBoard(8);
    const Run dirty = Windows("tervix-port-probe", {"dirty", "COM8"});
    ASSERT_EQ(dirty.Status, 0) << dirty.Out << dirty.Err;
    // Where Wine keeps the setting on the line, the test means something; it does for XON/XOFF.
    ASSERT_EQ(Findings(dirty.Out)["fOutX"], "1");
    ASSERT_EQ(Findings(dirty.Out)["fInX"], "1");
    const std::string file = folder_.Create(
        "flow.hex", ":020000040000FA\n:10020000001113001113FFFF001113000011130060\n:00000001FF\n");
    const Run run = Windows("tervix-flash", {"flash", "--port", "COM8", WinPath(file)});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    const Run after = Windows("tervix-port-probe", {"settings", "COM8"});
    ASSERT_EQ(after.Status, 0) << after.Out << after.Err;
    EXPECT_EQ(Findings(after.Out)["fOutX"], "1");
    EXPECT_EQ(Findings(after.Out)["fInX"], "1");
    board.Stop();
    ExpectHolds(board, ReadHexImage(file));
}

// A reply that an earlier program left unread on the line (a run killed after its request) is no
// answer to the next run's requests: the port drops it when it opens.
TEST_F(WineTest, AReplyLeftOnTheLineIsNoAnswerToTheNextRun) {
    SimBoard& board = AddComBoard(16);
    const Run left = Windows("tervix-port-probe", {"unanswered", "\\\\.\\COM16"});
    ASSERT_EQ(left.Status, 0) << left.Out << left.Err;
    const Run run = Windows("tervix-flash", {"flash", "--port", "COM16", WinPath(ExampleHex())});
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    board.Stop();
    ExpectHolds(board, ReadHexImage(ExampleHex()));
}

// The settings written over a record in which a previous program left every bit set.
TEST_F(WineTest, LineSettingsClearWhatCorruptsBinaryTraffic) {
    const Run probe = Windows("tervix-port-probe", {"line-settings"});
    ASSERT_EQ(probe.Status, 0) << probe.Err;
    const std::map<std::string, std::string> expected{
        {"BaudRate", "115200"}, {"ByteSize", "8"},     {"Parity", "0"},
        {"StopBits", "0"},      {"fOutxCtsFlow", "1"}, {"fOutxDsrFlow", "0"},
        {"fDtrControl", "0"},   {"fRtsControl", "1"},  {"fOutX", "0"},
        {"fInX", "0"},          {"fNull", "0"},        {"fDsrSensitivity", "0"},
        {"fAbortOnError", "0"}, {"fParity", "0"},      {"fErrorChar", "0"}};
    EXPECT_EQ(Findings(probe.Out), expected);
}

// Closing the port while a read waits must end without using the closed handle. Wine runs a
// synchronous serial read as a poll of its own that no cancel reaches, so here the read ends
// with its time-out; on Windows the cancel ends it at once.
TEST_F(WineTest, CloseDuringAReadEndsIt) {
    AddComBoard(9, {"--silent"});
    const Run probe = Windows("tervix-port-probe", {"close-in-read", "COM9", "3000"});
    ASSERT_EQ(probe.Status, 0) << probe.Out << probe.Err;
    std::map<std::string, std::string> found = Findings(probe.Out);
    EXPECT_EQ(found["close"], "1");
    EXPECT_THAT(found["read"], testing::AnyOf("0", "-1"));
    EXPECT_LT(std::stol(found["read_ms"]), 3000 + 2000);
}

TEST_F(WineTest, ReadRoundTrip) {
    AddComBoard(10, {"--load", ExampleHex()});
    const Run run = Windows("tervix-flash", {"read", "--port", "COM10", "--space", "program", "-o",
                                             WinPath(Path("app.hex"))});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    const HexImage app = ReadHexImage(Path("app.hex"));
    EXPECT_EQ(app.size(), 0x8000u - 0x200u);
    for (const auto& [address, byte] : ReadHexImage(ExampleHex())) {
        if (address >= 0x200 && address < 0x8000) {
            ASSERT_EQ(app.count(address), 1u) << std::hex << address;
            EXPECT_EQ(app.at(address), byte) << "at 0x" << std::hex << address;
        }
    }
}

// Each COM name, whether it opens, and the device the registry's serial map names for it.
TEST_F(WineTest, PortsListsTheTableWithTheSerialMap) {
    AddComBoard(11);
    const Run reg = Wine({"reg", "add", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM", "/v",
                          "\\Device\\TervixSim11", "/t", "REG_SZ", "/d", "COM11", "/f"});
    ASSERT_EQ(reg.Status, 0) << reg.Out << reg.Err;
    const Run run = Windows("tervix-flash", {"ports"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, testing::ContainsRegex(R"(\\\\\.\\COM11 +\\Device\\TervixSim11 +opens)"));
    EXPECT_THAT(run.Out, testing::ContainsRegex(R"(\\\\\.\\COM21 +- +does not open)"));
    EXPECT_THAT(run.Out, HasSubstr("COM1 "));
}

// Two boards at once, each child taking its serial number under LockFileEx on the journal, which
// is appended to in place, the counter and the checkpoint replaced by MoveFileEx; the path
// resolved by GetFinalPathNameByHandle.
TEST_F(WineTest, TwoBoardsTakeConsecutiveSerialNumbers) {
    SimBoard& first = AddComBoard(14);
    SimBoard& second = AddComBoard(15);
    const Run init = Windows("tervix-flash", {"serial", "init", "c.txt", "--start", "1000"});
    ASSERT_EQ(init.Status, 0) << init.Out << init.Err;
    const Run run =
        Windows("tervix-flash", {"flash", WinPath(ExampleHex()), "--port", "COM14", "--port",
                                 "COM15", "--serial-at", "eeprom:0x10", "--serial-format", "u16be",
                                 "--serial-counter", "c.txt", "--record", "r.jsonl"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(folder_.Read("c.txt"), "1002\n");
    const std::string journal = folder_.Read("c.txt.journal");
    EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 5) << journal;
    EXPECT_THAT(folder_.Read("c.txt.checkpoint"), HasSubstr("\"journal_lines\":5"));
    const Run status = Windows("tervix-flash", {"serial", "status", "c.txt"});
    ASSERT_EQ(status.Status, 0) << status.Out << status.Err;
    EXPECT_THAT(status.Out, HasSubstr("used 2, released 0, spoiled 0, kept 0, reserved now 0"));
    std::set<std::uint32_t> serials;
    for (SimBoard* board : {&first, &second}) {
        board->Stop();
        serials.insert(board->Memory().at(EepromBase + 0x10) << 8 |
                       board->Memory().at(EepromBase + 0x11));
    }
    EXPECT_EQ(serials, (std::set<std::uint32_t>{1000, 1001}));
}

// tervix-flash.exe takes its board's number from a tervix-line on this machine through WinHTTP:
// the board holds it, the record names it, and the server has the board's record.
TEST_F(WineTest, FlashTakesItsNumberFromTheLineServer) {
    SimBoard& board = AddComBoard(16);
    const std::string db = "sqlite:" + Path("line.db");
    const auto line = [this](const std::vector<std::string>& args) {
        ChildProcess command("tervix-line", args, folder_.Path());
        EXPECT_EQ(command.Wait(ProcessTimeoutMs), 0) << command.Err();
        return command.Out();
    };
    line({"pool", "add", "widget", "--start", "1000", "--db", db});
    folder_.Create("token", line({"token", "add", "bench-3", "--role", "station", "--db", db}));
    ChildProcess server("tervix-line", {"serve", "--db", db, "--listen", "127.0.0.1:0"},
                        folder_.Path());
    ASSERT_TRUE(server.AwaitError(", database ", ProcessTimeoutMs)) << server.Err();
    std::smatch port;
    ASSERT_TRUE(std::regex_search(server.Err(), port, std::regex(":([0-9]+), database ")));
    const Run run =
        Windows("tervix-flash",
                {"flash", WinPath(ExampleHex()), "--port", "COM16", "--serial-at", "eeprom:0x10",
                 "--serial-format", "u16be", "--line", "http://127.0.0.1:" + port[1].str(),
                 "--line-pool", "widget", "--line-token-file", "token", "--record", "r.jsonl"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(JsonLines(folder_.Read("r.jsonl")).at(0)["serial"], "1000");
    board.Stop();
    EXPECT_EQ(board.Bytes(EepromBase + 0x10, 2), (std::vector<std::uint8_t>{0x03, 0xE8}));
    EXPECT_EQ(folder_.Read("line-spool.jsonl"), "");
    EXPECT_THAT(line({"status", "--db", db}),
                testing::ContainsRegex("widget +counter +next 1001 +used 1,"));
    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(ProcessTimeoutMs), 0);
}

// A station of two positions, each holding its COM port open between its looks, flashing each
// board as it answers; its events as lines on a pipe, which is no console.
TEST_F(WineTest, StationFlashesTwoBoardsAsTheyAnswer) {
    std::filesystem::copy_file(ExampleHex(), Path("fw.hex"));
    folder_.Create("c.txt", "1000\n");
    folder_.Create("line.toml", "name = \"widget\"\n[firmware]\nfile = \"fw.hex\"\n"
                                "[serial]\ncounter = \"c.txt\"\nat = \"eeprom:0x10\"\n"
                                "format = \"u16be\"\n[records]\nfile = \"r.jsonl\"\n"
                                "[station]\nname = \"bench-3\"\n"
                                "ports = [\"COM17\", \"\\\\\\\\.\\\\COM18\"]\n");
    // Locking touches no port: the Linux build does it.
    const Run lock = Flash({"project", "lock", "line.toml"});
    ASSERT_EQ(lock.Status, 0) << lock.Err;
    auto station =
        StartWindows("tervix-flash", {"station", "line.toml", "--plain", "--until", "2"});
    for (const std::string waiting : {"1 COM17: waiting for", "2 \\\\.\\COM18: waiting for"}) {
        ASSERT_TRUE(station->AwaitOutput(waiting, ProcessTimeoutMs))
            << station->Out() << station->Err();
    }
    SimBoard& first = AddComBoard(17);
    SimBoard& second = AddComBoard(18);
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 0) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(), HasSubstr("1 COM17: PASS serial "));
    EXPECT_THAT(station->Out(), HasSubstr("2 \\\\.\\COM18: PASS serial "));
    EXPECT_THAT(station->Out(), HasSubstr("station bench-3 ended: 2 jobs; passed 2  failed 0"));
    std::set<int> positions;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("r.jsonl"))) {
        EXPECT_EQ(record["station"], "bench-3");
        positions.insert(record["position"].get<int>());
    }
    EXPECT_EQ(positions, (std::set<int>{1, 2}));
    std::set<std::uint32_t> serials;
    for (SimBoard* board : {&first, &second}) {
        board->Stop();
        ExpectHolds(*board, ReadHexImage(ExampleHex()));
        serials.insert(board->Memory().at(EepromBase + 0x10) << 8 |
                       board->Memory().at(EepromBase + 0x11));
    }
    EXPECT_EQ(serials, (std::set<std::uint32_t>{1000, 1001}));
}
