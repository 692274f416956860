// tervix-flash project: a project beside its files in a folder of its own, locked to its firmware
// and checked offline, and what either command refuses without changing the project.

#include "tests/cli/CliFixture.h"
#include "tests/support/CaseName.h"

#include <gmock/gmock.h>

#include <filesystem>

using testing::HasSubstr;

namespace {

// sha256sum examples/blink.hex
constexpr const char* BlinkDigest =
    "4e1714cc67b1d66c06f4428b6733fe7ca5f16d4e3a5fed780dfc85b6d823503a";

// Lines numbered as they stand before the lock, which adds one after line 4.
constexpr const char* ProjectText = "name = \"widget-rev-c\"\n"                       // 1
                                    "\n"                                              //
                                    "[firmware]\n"                                    // 3
                                    "file = \"blink.hex\"     # the release\n"        // 4
                                    "fast = true\n"                                   // 5
                                    "\n"                                              //
                                    "[serial]\n"                                      // 7
                                    "counter = \"serials.txt\"\n"                     // 8
                                    "at = \"eeprom:0x10\"\n"                          // 9
                                    "format = \"u32le\"\n"                            // 10
                                    "\n"                                              //
                                    "[records]\n"                                     // 12
                                    "file = \"boards.jsonl\"\n"                       // 13
                                    "tags = { lot = \"2026-49\", product = \"w\" }\n" // 14
                                    "\n"                                              //
                                    "[station]\n"                                     // 16
                                    "name = \"bench-3\"\n"                            // 17
                                    "ports = [\"COM3\", \"COM12\"]\n";                // 18

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string LockedText(const char* digest) {
    return Replaced(ProjectText, "# the release\n",
                    std::string("# the release\nsha256 = \"") + digest + "\"\n");
}

} // namespace

class ProjectTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        // Every file beside the project, in a folder of its own: named from there, not from here.
        std::filesystem::create_directory(Path("line"));
        std::filesystem::copy_file(ExampleHex(), Path("line/blink.hex"));
        folder_.Create("line/serials.txt", "1000\n");
        folder_.Create("line/widget.toml", ProjectText);
        std::filesystem::create_symlink("/dev/null", ports_ + "/COM3");
    }
};

TEST_F(ProjectTest, LockedOnceThenCheckedThenLockedToTheNextRelease) {
    const Run lock = Flash({"project", "lock", "line/widget.toml"});
    ASSERT_EQ(lock.Status, 0) << lock.Err;
    EXPECT_EQ(lock.Out, std::string("line/widget.toml: locked to ") + BlinkDigest +
                            ", the SHA-256 of line/blink.hex\n");
    // The line added after the file, every other byte as it was.
    EXPECT_EQ(folder_.Read("line/widget.toml"), LockedText(BlinkDigest));
    const Run again = Flash({"project", "lock", "line/widget.toml"});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_THAT(again.Out, HasSubstr("already locked"));

    const Run check = Flash({"project", "check", "line/widget.toml"});
    ASSERT_EQ(check.Status, 0) << check.Err;
    EXPECT_EQ(check.Out,
              std::string("line/widget.toml: project widget-rev-c\n"
                          "firmware: line/blink.hex, rows to write: program memory 7, data EEPROM "
                          "1; fast\n"
                          "  sha256 ") +
                  BlinkDigest +
                  ", as locked\n"
                  "serial: u32le at eeprom:0x0010, from the counter line/serials.txt: next 1000, "
                  "step 1\n"
                  "records: line/boards.jsonl can be appended (made now, empty); tags "
                  "lot=2026-49, product=w\n"
                  "station bench-3: 2 ports, a board starts when it answers\n"
                  "  COM3       /dev/null\n"
                  "  COM12      -\n"
                  "ok: line/widget.toml is ready for the line\n");
    EXPECT_EQ(check.Err, "");

    folder_.Create("line/blink.hex", RowsHex(2, 7));
    const Run release = Flash({"project", "lock", "line/widget.toml"});
    ASSERT_EQ(release.Status, 0) << release.Err;
    EXPECT_THAT(release.Out, HasSubstr(std::string("\n  it was ") + BlinkDigest + "\n"));
    const std::string text = folder_.Read("line/widget.toml");
    EXPECT_THAT(text, testing::Not(HasSubstr(BlinkDigest)));
    EXPECT_EQ(text.size(), LockedText(BlinkDigest).size());
    EXPECT_EQ(Flash({"project", "check", "line/widget.toml"}).Status, 0);
}

struct ProjectFault {
    std::string name;
    std::string command; // run on the locked project after the change below
    std::string from;    // replaced in the project by to
    std::string to;
    std::string hex;   // when not empty, the firmware's new content
    std::string error; // on standard error

    friend void PrintTo(const ProjectFault& c, std::ostream* out) { *out << c.name; }
};

class ProjectFaultTest : public ProjectTest, public testing::WithParamInterface<ProjectFault> {};

TEST_P(ProjectFaultTest, RefusedWith2NamingWhatIsWrongAndTheProjectKept) {
    const ProjectFault& c = GetParam();
    ASSERT_EQ(Flash({"project", "lock", "line/widget.toml"}).Status, 0);
    const std::string text = Replaced(LockedText(BlinkDigest), c.from, c.to);
    folder_.Create("line/widget.toml", text);
    if (!c.hex.empty()) {
        folder_.Create("line/blink.hex", c.hex);
    }
    const Run run = Flash({"project", c.command, "line/widget.toml"});
    EXPECT_EQ(run.Status, 2) << run.Out;
    EXPECT_THAT(run.Err, HasSubstr(c.error));
    EXPECT_EQ(folder_.Read("line/widget.toml"), text);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProjectFaultTest,
    testing::Values(
        ProjectFault{"FirmwareChangedAfterTheLock", "check", "", "", RowsHex(2, 7),
                     std::string(", but line/widget.toml line 5 locks the project to ") +
                         BlinkDigest},
        ProjectFault{"NotLocked", "check", std::string("sha256 = \"") + BlinkDigest + "\"\n", "",
                     "",
                     "line/widget.toml line 3: firmware.sha256 is missing, so the project is not "
                     "locked to its firmware; run tervix-flash project lock line/widget.toml"},
        ProjectFault{"FirmwareFlashRefuses", "check", "", "", ":0202080011000000\n",
                     "line/blink.hex line 1: checksum mismatch"},
        ProjectFault{"SerialPlaceUnderTheFirmware", "check", "eeprom:0x10", "eeprom:0x04", "",
                     "line/widget.toml line 8: serial: line/blink.hex line 16 holds data for "
                     "eeprom:0x0004, where the serial number goes"},
        ProjectFault{"SerialPastTheEeprom", "check", "eeprom:0x10", "eeprom:0xFD", "",
                     "4 bytes at eeprom:0x00FD leave the data EEPROM below the run-mode flag"},
        ProjectFault{"CounterMissing", "check", "serials.txt", "gone.txt", "", "line/gone.txt"},
        ProjectFault{"RecordIsAFolder", "check", "boards.jsonl", ".", "",
                     "cannot write the record line/.: Is a directory"},
        ProjectFault{"RecordIsTheFirmware", "check", "boards.jsonl", "blink.hex", "",
                     "line/widget.toml line 14: the record line/blink.hex is the HEX file "
                     "line/blink.hex"},
        ProjectFault{"PortOfNoName", "check", "\"COM12\"", "\"COM22\"", "",
                     "line/widget.toml line 19: COM22 is not a port name (COM1 to COM21, or a "
                     "device path)"},
        ProjectFault{"SamePortTwice", "check", "\"COM12\"", "\"/dev/null\"", "",
                     "line/widget.toml line 19: COM3 and /dev/null name the same port"},
        ProjectFault{"LockOfAFileFlashRefuses", "lock", "", "", ":0202080011000000\n",
                     "line/blink.hex line 1: checksum mismatch"},
        ProjectFault{"LockOfAProjectWithAWrongType", "lock", "fast = true", "fast = 1", "",
                     "line/widget.toml line 6: firmware.fast must be true or false, not an "
                     "integer"}),
    CaseName());
