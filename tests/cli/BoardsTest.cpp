// The production-line commands against simulated boards: several boards at once with a record
// of each, verify and erase, and the command lines refused before any board is touched.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

using testing::HasSubstr;

namespace {

const std::vector<std::string> RecordKeys = {
    "time",   "host", "command",  "port",    "device_path", "device",     "file",
    "sha256", "rows", "requests", "seconds", "result",      "exit_status"};

std::vector<nlohmann::ordered_json> JsonLines(const std::string& text) {
    std::vector<nlohmann::ordered_json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::ordered_json::parse(line, nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << line;
    }
    return lines;
}

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
    const Run run = Flash({"verify", ExampleHex(), "--port", "COM3"});
    EXPECT_EQ(run.Status, c.status) << run.Err;
    for (const std::string& error : c.errors) {
        EXPECT_THAT(run.Err, HasSubstr(error));
    }
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

TEST_F(CliTest, EraseBlanksTheApplicationAreaAndSparesTheBootBlock) {
    SimBoard& erased = AddBoard("COM3", {"--load", ExampleHex()});
    SimBoard& untouched = AddBoard("COM4");
    const Run run = Flash({"erase", "--port", "COM3"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("504 blocks erased, 0x200 to 0x7FFF"));
    erased.Stop();
    untouched.Stop();
    EXPECT_EQ(erased.Stat("erase_program"), 504u);
    for (const auto& [address, byte] : erased.Memory()) {
        if (address < 0x200) {
            EXPECT_EQ(byte, untouched.Memory().at(address)) << "at 0x" << std::hex << address;
        } else if (address < 0x8000) {
            ASSERT_EQ(byte, 0xFF) << "at 0x" << std::hex << address;
        }
    }
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
    std::vector<std::string> args = r.args;
    for (std::string& arg : args) {
        arg = arg == "DEVICE" ? board.Device() : arg == "HEX" ? ExampleHex() : arg;
    }
    const Run run = Flash(args);
    EXPECT_EQ(run.Status, r.status);
    EXPECT_THAT(run.Err, HasSubstr(r.error));
    board.Stop();
    EXPECT_EQ(board.Stat("requests"), 0u);
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
                            "cannot write the record /nonexistent/boards.jsonl"},
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
                    Refusal{"EraseBackwards",
                            {"erase", "--yes", "--from", "0x400", "--to", "0x3FF"},
                            64,
                            "0x200 <= from <= to <= 0x7FFF"}),
    CaseName());
