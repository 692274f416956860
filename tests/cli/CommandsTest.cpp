// The other subcommands: read back to HEX, the offline check, run mode, the port list, and
// command lines that are refused.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"

#include "link/ComPort.h"

#include <gmock/gmock.h>

#include <grp.h>
#include <sys/stat.h>

using testing::HasSubstr;

TEST_F(CliTest, ReadBackCanBeFlashedAgain) {
    AddBoard("COM3", {"--load", ExampleHex()});
    const Run program = Flash({"read", "--port", "COM3", "--space", "program", "-o", "app.hex"});
    ASSERT_EQ(program.Status, 0) << program.Err;
    const Run eeprom = Flash({"read", "--port", "COM3", "--space", "eeprom", "-o", "data.hex"});
    ASSERT_EQ(eeprom.Status, 0) << eeprom.Err;

    const HexImage example = ReadHexImage(ExampleHex());
    const HexImage app = ReadHexImage(Path("app.hex"));
    const HexImage data = ReadHexImage(Path("data.hex"));
    EXPECT_EQ(app.size(), 0x8000u - 0x200u);
    EXPECT_EQ(app.begin()->first, 0x200u);
    EXPECT_EQ(data.size(), 0x100u);
    EXPECT_EQ(data.begin()->first, EepromBase);
    for (const auto& [address, byte] : example) {
        const HexImage& image = address >= EepromBase ? data : app;
        if (address < 0x200000 || address >= EepromBase) {
            ASSERT_EQ(image.count(address), 1u) << std::hex << address;
            EXPECT_EQ(image.at(address), byte) << "at 0x" << std::hex << address;
        }
    }

    // What came back is a file the programmer takes, and it carries the same program.
    const Run check = Flash({"check", "--quiet", "app.hex"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    SimBoard& fresh = AddBoard("COM4");
    const Run again = Flash({"flash", "--port", "COM4", "app.hex"});
    ASSERT_EQ(again.Status, 0) << again.Err;
    fresh.Stop();
    for (const auto& [address, byte] : app) {
        EXPECT_EQ(fresh.Memory().at(address), byte) << "at 0x" << std::hex << address;
    }
}

TEST_F(CliTest, ReadOfIdLocationsAndARange) {
    AddBoard("COM3", {"--load", ExampleHex()});
    const Run id =
        Flash({"read", "--port", "COM3", "--space", "id", "--to", "0x200003", "-o", "id.hex"});
    ASSERT_EQ(id.Status, 0) << id.Err;
    EXPECT_EQ(ReadHexImage(Path("id.hex")),
              (HexImage{{0x200000, 1}, {0x200001, 0}, {0x200002, 0}, {0x200003, 1}}));

    const Run range = Flash({"read", "--port", "COM3", "--space", "program", "--from", "0x208",
                             "--to", "521", "-o", "range.hex"});
    ASSERT_EQ(range.Status, 0) << range.Err;
    EXPECT_EQ(ReadHexImage(Path("range.hex")), (HexImage{{0x208, 0x11}, {0x209, 0x00}}));
}

TEST_F(CliTest, RunModeAndBackToBootMode) {
    AddBoard("COM3");
    const auto flag = [this] {
        const Run read = Flash(
            {"read", "--port", "COM3", "--space", "eeprom", "--from", "0xFF", "-o", "flag.hex"});
        EXPECT_EQ(read.Status, 0) << read.Err;
        return ReadHexImage(Path("flag.hex"))[EepromBase + 0xFF];
    };
    EXPECT_EQ(flag(), 0xFF);
    const Run run = Flash({"run-mode", "--port", "COM3"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("board set to run mode"));
    EXPECT_EQ(flag(), 0x00);
    const Run boot = Flash({"run-mode", "--boot", "--yes"});
    ASSERT_EQ(boot.Status, 0) << boot.Err;
    EXPECT_EQ(flag(), 0xFF);
}

TEST_F(CliTest, CheckListsRowsPerSpace) {
    const Run run = Flash({"check", ExampleHex()});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, HasSubstr("program memory: 7 rows written\n"
                                   "  0x0200                1 row   line 2\n"
                                   "  0x0200-0x025F         6 rows  lines 3-8\n"));
    EXPECT_THAT(run.Out, HasSubstr("data EEPROM: 1 row written\n"));
    EXPECT_THAT(run.Out, HasSubstr("ID locations: 1 row skipped"));
    EXPECT_THAT(run.Out, HasSubstr("configuration: 3 rows skipped"));
    EXPECT_THAT(run.Out, HasSubstr("ok: the programmer would return 17"));
}

TEST_F(CliTest, RecordsThePassNeverReachesAreAFileError) {
    // Two records on one line: the pass reads at most as many records as the file has lines, so
    // the second would be left off the chip while the programmer reports success.
    ASSERT_TRUE(folder_.Write("dense.hex", ":020000040000FA:040200000DEF01F00D\n"));
    const Run check = Flash({"check", "dense.hex"});
    EXPECT_EQ(check.Status, 2);
    EXPECT_THAT(check.Err, HasSubstr("dense.hex line 1: this line holds a second record, which "
                                     "would never be written"));
    EXPECT_THAT(check.Err, HasSubstr("-1020"));
    // Refused before any port is looked at: no board answers here, which would give status 1.
    const Run flash = Flash({"flash", "dense.hex", "--port", "COM7"});
    EXPECT_EQ(flash.Status, 2) << flash.Err;
    EXPECT_THAT(flash.Err, HasSubstr("nothing was written"));
}

struct BrokenFile {
    const char* name;
    const char* text;
    const char* error;

    friend void PrintTo(const BrokenFile& file, std::ostream* out) { *out << file.name; }
};

class CheckBrokenTest : public CliTest, public testing::WithParamInterface<BrokenFile> {};

TEST_P(CheckBrokenTest, NamesTheLineAndTheProgrammersCode) {
    ASSERT_TRUE(folder_.Write("broken.hex", GetParam().text));
    const Run run = Flash({"check", "--quiet", "broken.hex"});
    EXPECT_EQ(run.Status, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_THAT(run.Err, HasSubstr(GetParam().error));
}

INSTANTIATE_TEST_SUITE_P(
    Files, CheckBrokenTest,
    testing::Values(
        BrokenFile{"Checksum", ":020000040000FA\n\n:0202080011000000\n",
                   "broken.hex line 3: checksum mismatch (the programmer would stop with -1020)"},
        BrokenFile{"BadDigit", ":0202080011G0E3\n",
                   "line 1: a character that is not a hexadecimal"},
        BrokenFile{"CutShort", ":020000040000FA\n:02020800", "line 2: record cut short"},
        BrokenFile{"UnknownType", ":00000006FA\n", "line 1: record type 06 is not Intel HEX"},
        BrokenFile{"BootBlock", "junk\n:0201F00001020A\n",
                   "line 2: data at 0x01F0 lies in the boot block below 0x0200 (the programmer "
                   "would stop with -1010)"},
        BrokenFile{"PastTwoRows", ":12020F00000000000000000000000000000000000000DD\n",
                   "line 1: 18 data bytes at offset 0x020F run past two 16-byte rows"},
        BrokenFile{"PastEeprom", ":0200000400F00A\n:0200FF000102FC\n",
                   "line 2: EEPROM data at 0xFF runs past the last EEPROM address 0xFF "
                   "(the programmer would stop with -1011)"}),
    CaseName());

TEST_F(CliTest, PortsShowsEachNameWithItsDevice) {
    SimBoard& board = AddBoard("COM3");
    const Run run = Flash({"ports"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_THAT(run.Out, testing::ContainsRegex("COM3 +" + board.Device() + " +opens\n"));
    EXPECT_THAT(run.Out, testing::ContainsRegex("COM1 +- +no device\n"));
    EXPECT_THAT(run.Out, HasSubstr("\\\\.\\COM21"));
}

// A new user meets a serial device of a group they are not in, and another program's port.
TEST_F(CliTest, RefusedDeviceNamesItsGroupAndTheFixWhileAHeldOneIsInUse) {
    const std::string refused = AddBoard("COM3").Device();
    const std::string held = AddBoard("COM4").Device();
    // Only the group may use it, so joining the group is the fix, whoever runs the test.
    ASSERT_EQ(chmod(refused.c_str(), 0060), 0);
    ASSERT_EQ(chmod(held.c_str(), 0666), 0);
    const ComHandle holder = OpenComPort(held.c_str(), 115200, 100);
    ASSERT_NE(holder, InvalidComHandle);
    struct stat info {};
    ASSERT_EQ(stat(refused.c_str(), &info), 0);
    const group* owner = getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string fix = std::string("sudo usermod -aG ") + owner->gr_name + " $USER";

    const Run ports = FlashAsUser({"ports"});
    ASSERT_EQ(ports.Status, 0) << ports.Err;
    EXPECT_THAT(ports.Out,
                testing::ContainsRegex("COM3 +" + refused + " +permission denied \\(group " +
                                       owner->gr_name + "\\)\n"));
    EXPECT_THAT(ports.Out, testing::ContainsRegex("COM4 +" + held + " +in use\n"));
    EXPECT_THAT(ports.Out, HasSubstr(fix));

    const Run named = FlashAsUser({"flash", "--port", "COM3", ExampleHex()});
    EXPECT_EQ(named.Status, 1);
    EXPECT_THAT(named.Err, HasSubstr("permission denied on " + refused));
    EXPECT_THAT(named.Err, HasSubstr(fix));
    EXPECT_THAT(named.Err, HasSubstr("log out and in again"));

    const Run scan = FlashAsUser({"run-mode", "--yes"});
    EXPECT_EQ(scan.Status, 1);
    EXPECT_THAT(scan.Err, HasSubstr("none of COM1 to COM21 could be opened"));
    EXPECT_THAT(scan.Err, HasSubstr(fix));

    const Run busy = FlashAsUser({"read", "--port", "COM4", "--space", "id", "-o", "id.hex"});
    EXPECT_EQ(busy.Status, 1);
    EXPECT_THAT(busy.Err, HasSubstr("in use by another program"));
    EXPECT_THAT(busy.Err, testing::Not(HasSubstr("permission")));
    CloseComPort(holder);
}

TEST_F(CliTest, RefusedCommandLinesExitWith64) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"flash"},
        {"flash", "--port", "COM3", "--yes", "x.hex"},
        {"read", "--yes", "--space", "flash", "-o", "x.hex"},
        {"read", "--yes", "--space", "program", "--from", "0x100", "--to", "0x80", "-o", "x.hex"},
        {"read", "--yes", "--space", "eeprom", "--to", "0x100", "-o", "x.hex"},
        {"read", "--yes", "--space", "program", "--from", "-1", "-o", "x.hex"},
        {"run-mode", "--bogus"},
        {"project"},
        {"project", "check"},
    };
    for (const auto& line : lines) {
        const Run run = Flash(line);
        EXPECT_EQ(run.Status, 64) << testing::PrintToString(line) << run.Err;
    }
    const Run help = Flash({"read", "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_THAT(help.Out, HasSubstr("64  usage error"));
    const Run version = Flash({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_THAT(version.Out,
                testing::MatchesRegex("tervix-flash [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"));
}
