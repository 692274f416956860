// The many-board command lines refused before any board is touched, and the count of boards
// that must answer first.

#include "link/ComPort.h"
#include "tests/cli/CliFixture.h"
#include "tests/cli/RecordChecks.h"
#include "tests/support/CaseName.h"
#include "tests/support/Pty.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

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
