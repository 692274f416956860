// The project file: what it holds once read, every refusal naming the key and its line, and the
// lock written into the text with every other byte kept.

#include "line/Project.h"
#include "line/FileDigest.h"
#include "line/HexSnapshot.h"
#include "line/ProjectLock.h"

#include "tests/support/CaseName.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <sstream>

using testing::HasSubstr;

namespace {

constexpr const char* FirmwareText = ":0400000001000001FA\n:00000001FF\n";
// sha256sum of FirmwareText.
constexpr const char* FirmwareDigest =
    "e1e9fb50f89bef5e8f546bb3a8c987450e7843c026f9f4b9430aab1e6eef523c";

// The example of the README, lines numbered as the file has them.
std::string ExampleProject() {
    return std::string("name = \"widget-rev-c\"\n"                               // 1
                       "\n"                                                      //
                       "[firmware]\n"                                            // 3
                       "file = \"widget.hex\"            # beside the project\n" // 4
                       "sha256 = \"") +
           FirmwareDigest +
           "\"\n"                                                 // 5
           "fast = true\n"                                        // 6
           "\n"                                                   //
           "[serial]\n"                                           // 8
           "counter = \"serials.txt\"\n"                          // 9
           "at = \"eeprom:0xF0\"\n"                               // 10
           "format = \"u32le\"\n"                                 // 11
           "\n"                                                   //
           "[records]\n"                                          // 13
           "file = \"/var/lib/line/boards.jsonl\"\n"              // 14
           "tags = { lot = \"2026-49\", product = \"widget\" }\n" // 15
           "\n"                                                   //
           "[station]\n"                                          // 17
           "name = \"bench-3\"\n"                                 // 18
           "ports = [\"COM3\", \"COM4\",\n"                       // 19
           "         \"/dev/ttyUSB0\"]\n"                         // 20
           "start = \"key\"\n";                                   // 21
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

} // namespace

TEST(Project, ReadsTheExampleWithFilesBesideTheProject) {
    TempFolder folder;
    folder.Create("widget.hex", FirmwareText);
    const std::string path = folder.Create("widget.toml", ExampleProject());
    std::vector<std::string> faults;
    const auto project = LoadProject(path, ProjectRead::Use, faults);
    ASSERT_TRUE(project) << testing::PrintToString(faults);
    EXPECT_EQ(project->Name, "widget-rev-c");
    EXPECT_EQ(project->Firmware, folder.File("widget.hex"));
    EXPECT_EQ(project->Sha256, FirmwareDigest);
    EXPECT_TRUE(project->Fast);
    ASSERT_TRUE(project->Serial);
    const SerialSettings& serial = project->Serial->Settings;
    EXPECT_EQ(serial.Source.Counter, folder.File("serials.txt"));
    EXPECT_EQ(serial.Source.Step, 1u);
    ASSERT_TRUE(serial.Place);
    EXPECT_EQ(serial.Place->Space, HexSpace::Eeprom);
    EXPECT_EQ(serial.Place->Address, 0xF0u);
    EXPECT_EQ(serial.Format.Kind, SerialKind::U32le);
    EXPECT_EQ(project->Records, "/var/lib/line/boards.jsonl");
    EXPECT_EQ(project->Tags, (std::vector<std::pair<std::string, std::string>>{
                                 {"lot", "2026-49"}, {"product", "widget"}}));
    EXPECT_EQ(project->Station, "bench-3");
    EXPECT_EQ(project->Ports, (std::vector<std::string>{"COM3", "COM4", "/dev/ttyUSB0"}));
    EXPECT_EQ(project->Start, ProjectStart::Key);
    EXPECT_EQ(project->Where("station.ports[2]"), path + " line 20");

    const HexSnapshot firmware(project->Firmware);
    ASSERT_TRUE(firmware.Ok()) << firmware.Error();
    EXPECT_EQ(FirmwareLockRefusal(*project, *firmware.Sha256()), "");

    // Through a link from another folder the files are still those beside the project.
    std::filesystem::create_directory(folder.File("bench"));
    std::filesystem::create_symlink("../widget.toml", folder.File("bench/current.toml"));
    const auto linked = LoadProject(folder.File("bench/current.toml"), ProjectRead::Use, faults);
    ASSERT_TRUE(linked) << testing::PrintToString(faults);
    EXPECT_TRUE(std::filesystem::equivalent(linked->Firmware, folder.File("widget.hex")));
    EXPECT_FALSE(project->Line);

    // The numbers from a line server's pool, its table after [serial].
    folder.Create("line.toml",
                  Replaced(ExampleProject(), "counter = \"serials.txt\"", "") +
                      "[line]\nurl = \"http://line.example:8470\"\npool = \"widget\"\n");
    const auto line = LoadProject(folder.File("line.toml"), ProjectRead::Use, faults);
    ASSERT_TRUE(line) << testing::PrintToString(faults);
    ASSERT_TRUE(line->Line);
    EXPECT_EQ(line->Line->Url, "http://line.example:8470");
    EXPECT_EQ(line->Line->Pool, "widget");
    EXPECT_EQ(line->Serial->Settings.Source.File(), "");
}

struct RefusalCase {
    std::string name;
    std::string from; // replaced in the example by to
    std::string to;
    std::string fault; // parts between '*' found in this order

    friend void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }
};

class ProjectRefusal : public testing::TestWithParam<RefusalCase> {};

// What a station meets before any port opens: the project read, then its firmware read once and
// held to the lock.
TEST_P(ProjectRefusal, NamesTheKeyAndItsLine) {
    const RefusalCase& c = GetParam();
    TempFolder folder;
    folder.Create("widget.hex", FirmwareText);
    folder.Create("other.hex", std::string(FirmwareText) + "\n");
    const std::string path = folder.Create("widget.toml", Replaced(ExampleProject(), c.from, c.to));
    std::vector<std::string> faults;
    std::string found;
    if (const auto project = LoadProject(path, ProjectRead::Use, faults)) {
        const HexSnapshot firmware(project->Firmware);
        found =
            firmware.Ok() ? FirmwareLockRefusal(*project, *firmware.Sha256()) : firmware.Error();
    }
    for (const std::string& fault : faults) {
        found += fault + "\n";
    }
    std::size_t at = 0;
    std::istringstream parts(c.fault);
    for (std::string part; std::getline(parts, part, '*');) {
        at = found.find(part, at);
        ASSERT_NE(at, std::string::npos) << "\"" << part << "\" not in:\n" << found;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProjectRefusal,
    testing::Values(
        RefusalCase{"UnknownKey", "fast = true", "fsat = true",
                    "widget.toml line 6: unknown key firmware.fsat\n"},
        RefusalCase{"UnknownTable", "[station]", "[lines]\nurl = \"x\"\n[station]",
                    "widget.toml line 17: unknown key lines\n"},
        RefusalCase{"WrongType", "fast = true", "fast = \"yes\"",
                    "widget.toml line 6: firmware.fast must be true or false, not a string\n"},
        RefusalCase{"WrongTypeInAnArray", "\"COM4\"", "4",
                    "widget.toml line 19: station.ports[1] must be a string, not an integer\n"},
        RefusalCase{"WrongTypeOfATag", "lot = \"2026-49\"", "lot = 2026",
                    "line 15: records.tags.lot must be a string, not an integer\n"},
        RefusalCase{"MissingValue", "file = \"widget.hex\"", "",
                    "widget.toml line 3: firmware.file is missing\n"},
        RefusalCase{"MissingTable", "[station]", "[Station]",
                    "widget.toml: the table [station] is missing\n"},
        RefusalCase{"EmptyValue", "name = \"bench-3\"", "name = \"\"",
                    "line 18: station.name is empty\n"},
        RefusalCase{"NoPorts", "ports = [\"COM3\", \"COM4\",\n         \"/dev/ttyUSB0\"]",
                    "ports = []", "line 19: station.ports is empty"},
        RefusalCase{"StartOfNoKind", "start = \"key\"", "start = \"auto\"",
                    "line 21: station.start must be \"board\" or \"key\", not \"auto\"\n"},
        RefusalCase{"SerialPlaceOfNoSpace", "eeprom:0xF0", "flash:0x10",
                    "line 10: serial.at: not SPACE:ADDRESS"},
        RefusalCase{"SerialFromTwoSources", "counter = \"serials.txt\"",
                    "counter = \"serials.txt\"\nlist = \"values.txt\"",
                    "line 10: serial.counter and serial.list exclude each other\n"},
        RefusalCase{"SerialFromNoSource", "counter = \"serials.txt\"", "",
                    "line 8: serial.counter, serial.list or line.pool is missing"},
        RefusalCase{"LineServerOfNoAddress", "[station]", "[line]\nurl = \"line:8470\"\n[station]",
                    "line 18: line.url: the line server's address line:8470 must start with "
                    "http:// or https://\n"},
        RefusalCase{"SerialFromACounterAndAPool", "[station]",
                    "[line]\nurl = \"http://line:8470\"\npool = \"widget\"\n[station]",
                    "line 19: line.pool and serial.counter exclude each other"},
        RefusalCase{"PoolWithNowhereToWrite", "[serial]\ncounter",
                    "[line]\nurl = \"http://l\"\n"
                    "pool = \"widget\"\n[unused]\ncounter",
                    "line 10: line.pool needs [serial] with at and format"},
        RefusalCase{"StepOfAList", "counter = \"serials.txt\"", "list = \"v.txt\"\nstep = 2",
                    "line 10: serial.step counts the numbers of serial.counter only\n"},
        RefusalCase{"StepOfZero", "counter = \"serials.txt\"", "counter = \"s.txt\"\nstep = 0",
                    "line 10: serial.step must be 1 or more, not 0\n"},
        // Each fault once, in the file's order, the whole file's last.
        RefusalCase{"EveryFaultInTheFilesOrder", "name = \"widget-rev-c\"", "nmae = \"w\"\nx = 1",
                    "widget.toml line 1: unknown key nmae\n*"
                    "widget.toml line 2: unknown key x\n*"
                    "widget.toml: name is missing\n"},
        RefusalCase{"NotToml", "fast = true", "fast = ture", "widget.toml line 6, column "},
        RefusalCase{"DigestNotHexadecimal", FirmwareDigest, "9f2c",
                    "line 5: firmware.sha256 must be 64 hexadecimal digits, not \"9f2c\""},
        RefusalCase{"MissingFirmwareFile", "file = \"widget.hex\"", "file = \"gone.hex\"",
                    "cannot read *gone.hex: No such file or directory"},
        RefusalCase{"FirmwareOtherThanLocked", "file = \"widget.hex\"", "file = \"other.hex\"",
                    std::string("other.hex has the SHA-256 "
                                "3362818870b6ce03352c2fc63c7c1a92fdcdd5cf73473affd26a80b3a1bb0c2f, "
                                "but *widget.toml line 5 locks "
                                "the project to ") +
                        FirmwareDigest},
        RefusalCase{"NotLocked", std::string("sha256 = \"") + FirmwareDigest + "\"", "",
                    "widget.toml line 3: firmware.sha256 is missing, so the project is not "
                    "locked to its firmware; run tervix-flash project lock "}),
    CaseName());

struct LockCase {
    std::string name;
    std::string text;   // %T: the tables every project needs; %D: the digest
    std::string locked; // empty: refused

    friend void PrintTo(const LockCase& c, std::ostream* out) { *out << c.name; }
};

class ProjectLock : public testing::TestWithParam<LockCase> {};

TEST_P(ProjectLock, ChangesTheDigestAlone) {
    const auto fill = [](std::string text) {
        for (const auto& [mark, value] :
             {std::pair<std::string, std::string>{
                  "%T", "[records]\nfile = \"b.jsonl\"\n[station]\nname = \"s\"\n"
                        "ports = [\"COM3\"]\n"},
              {"%D", FirmwareDigest}}) {
            for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at)) {
                text.replace(at, mark.size(), value);
            }
        }
        return text;
    };
    const LockCase& c = GetParam();
    const std::string text = fill(c.text);
    std::vector<std::string> faults;
    const auto project = ParseProject(text, "p.toml", ProjectRead::Lock, faults);
    ASSERT_TRUE(project) << testing::PrintToString(faults);
    std::string why;
    const auto locked = LockedProjectText(text, *project, FirmwareDigest, why);
    if (c.locked.empty()) {
        EXPECT_FALSE(locked);
        EXPECT_THAT(why, HasSubstr("add the line sha256 = \"\" to its [firmware] table"));
        return;
    }
    ASSERT_TRUE(locked) << why;
    EXPECT_EQ(*locked, fill(c.locked));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProjectLock,
    testing::Values(
        LockCase{"ReplacesTheValueKeepingItsComment",
                 "name = \"w\"\n[firmware]\nfile = \"widget.hex\"  # the release\n"
                 "sha256 = \"0123\"   # by lock\nfast = true\n%T",
                 "name = \"w\"\n[firmware]\nfile = \"widget.hex\"  # the release\n"
                 "sha256 = \"%D\"   # by lock\nfast = true\n%T"},
        LockCase{"AddsTheKeyAfterTheFileIndentedAsItIs",
                 "name = \"w\"\n[firmware]\n  file = \"widget.hex\"  # x\n  fast = true\n%T",
                 "name = \"w\"\n[firmware]\n  file = \"widget.hex\"  # x\n  sha256 = \"%D\"\n"
                 "  fast = true\n%T"},
        LockCase{"KeepsWindowsLineEnds",
                 "name = \"w\"\r\n[firmware]\r\nfile = \"widget.hex\"\r\n%T",
                 "name = \"w\"\r\n[firmware]\r\nfile = \"widget.hex\"\r\nsha256 = \"%D\"\r\n%T"},
        LockCase{"AddsAfterAFileOnTheLastLine", "name = \"w\"\n%T[firmware]\nfile = \"widget.hex\"",
                 "name = \"w\"\n%T[firmware]\nfile = \"widget.hex\"\nsha256 = \"%D\"\n"},
        // Columns count characters, not bytes.
        LockCase{"ReplacesAValueInAnInlineTableAfterWideCharacters",
                 "name = \"w\"\nfirmware = { file = \"wïdgét.hex\", sha256 = 'ü' } # ß\n%T",
                 "name = \"w\"\nfirmware = { file = \"wïdgét.hex\", sha256 = \"%D\" } # ß\n%T"},
        LockCase{"ReplacesAValueOfAnyType",
                 "name = \"w\"\n[firmware]\nfile = \"widget.hex\"\nsha256 = 42\n%T",
                 "name = \"w\"\n[firmware]\nfile = \"widget.hex\"\nsha256 = \"%D\"\n%T"},
        LockCase{
            "ReplacesAStringOverLines",
            "name = \"w\"\n[firmware]\nsha256 = \"\"\"\n0123\"\"\" # old\nfile = \"w.hex\"\n%T",
            "name = \"w\"\n[firmware]\nsha256 = \"%D\" # old\nfile = \"w.hex\"\n%T"},
        // A line added after the file would land at the top level.
        LockCase{"RefusesKeysDottedFromTheTop", "name = \"w\"\nfirmware.file = \"widget.hex\"\n%T",
                 ""}),
    CaseName());
