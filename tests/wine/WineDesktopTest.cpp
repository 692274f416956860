// tervix.exe under Wine: the Windows test program (desktop/) drives the dialog through window
// messages while this side keeps the simulated board on COM1 and checks what reached it.

#include "tests/support/CaseName.h"
#include "tests/wine/WineFixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <thread>

namespace {

// What reaches the board in a case.
enum class After {
    HoldsFile,   // the file in program memory and EEPROM, run mode, a row log
    RunModeOnly, // run mode set, nothing erased or written
    Untouched,   // nothing erased or written
};

// The example stands beside a folder named temp.log, where no log can be written, in a folder of
// its own that the file dialog browses to.
enum class HexFile { None, Example, Refused, Browsed };

// Each case runs one test of the Windows program against a board on COM1; the cases run one at a
// time (the port scan would otherwise find another case's board).
struct DesktopCase {
    std::string name;
    std::string test;
    std::vector<std::string> board = {};
    HexFile file = HexFile::None;
    After after;
};

void PrintTo(const DesktopCase& c, std::ostream* out) {
    *out << c.name;
}

// A checksum that does not add up on line 2: the programmer would stop there, after the erase.
const std::string RefusedFile = ":020000040000FA\n:10020000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEE\n"
                                ":00000001FF\n";

class WineDesktopTest : public WineTest, public testing::WithParamInterface<DesktopCase> {
protected:
    Run WindowsTests(const std::string& test, const std::vector<std::string>& args) {
        std::vector<std::string> all{"--gtest_filter=" + test};
        all.insert(all.end(), args.begin(), args.end());
        return Windows("tervix-desktop-tests", all);
    }
};

std::uint64_t Writes(const SimBoard& board) {
    return board.Stat("erase_program") + board.Stat("write_program") + board.Stat("write_eeprom");
}

} // namespace

TEST_P(WineDesktopTest, DrivesTheDialog) {
    const DesktopCase& c = GetParam();
    SimBoard& board = AddComBoard(1, c.board);
    std::vector<std::string> args{"--tervix=" + WinPath(programs_ + "/tervix.exe"), "--port=COM1"};
    if (c.file == HexFile::Example) {
        args.push_back("--file=" + WinPath(ExampleHex()));
    } else if (c.file == HexFile::Refused) {
        // In a folder of its own, away from the program's working folder: the second job's file
        // dialog must open there by itself.
        std::filesystem::create_directory(Path("files"));
        args.push_back("--file=" + WinPath(folder_.Create("files/refused.hex", RefusedFile)));
    } else if (c.file == HexFile::Browsed) {
        std::filesystem::create_directories(Path("hexes/temp.log"));
        std::filesystem::copy_file(ExampleHex(), Path("hexes/blink.hex"));
        args.push_back("--file=" + WinPath(Path("hexes/blink.hex")));
    }
    const Run run = WindowsTests(c.test, args);
    EXPECT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_THAT(run.Out, testing::HasSubstr("[  PASSED  ] 1 test.")) << run.Out;
    board.Stop();
    EXPECT_EQ(board.Stat("violations"), 0u);
    switch (c.after) {
    case After::HoldsFile: {
        for (const auto& [address, byte] : ReadHexImage(ExampleHex())) {
            if (address >= 0x200000 && address < EepromBase) {
                continue;
            }
            const auto it = board.Memory().find(address);
            ASSERT_NE(it, board.Memory().end()) << std::hex << address;
            EXPECT_EQ(it->second, byte) << "at 0x" << std::hex << address;
        }
        EXPECT_EQ(board.StatText("mode"), "run");
        // Where the program was started, whatever folder the file came from.
        const std::string log = folder_.Read("temp.log");
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
        if (c.file == HexFile::Browsed) {
            EXPECT_TRUE(std::filesystem::is_empty(Path("hexes/temp.log")));
        }
        break;
    }
    case After::RunModeOnly:
        EXPECT_EQ(board.StatText("mode"), "run");
        EXPECT_EQ(board.Stat("erase_program") + board.Stat("write_program"), 0u);
        break;
    case After::Untouched:
        EXPECT_EQ(Writes(board), 0u);
        EXPECT_EQ(board.StatText("mode"), "boot");
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Dialog, WineDesktopTest,
                         testing::Values(DesktopCase{.name = "Templates",
                                                     .test = "Desktop.DialogFollowsItsTemplates",
                                                     .after = After::Untouched},
                                         DesktopCase{.name = "WholeJob",
                                                     .test = "Desktop.WholeJob",
                                                     .file = HexFile::Example,
                                                     .after = After::HoldsFile},
                                         DesktopCase{.name = "ExitAtIdle",
                                                     .test = "Desktop.ExitAtIdleSetsRunMode",
                                                     .after = After::RunModeOnly},
                                         DesktopCase{.name = "BrowsedFolder",
                                                     .test = "Desktop.FileInABrowsedFolder",
                                                     .file = HexFile::Browsed,
                                                     .after = After::HoldsFile},
                                         DesktopCase{.name = "RefusedFile",
                                                     .test = "Desktop.RefusedFileLeavesTheBoard",
                                                     .file = HexFile::Refused,
                                                     .after = After::Untouched},
                                         DesktopCase{
                                             .name = "SilentBoard",
                                             .test = "Desktop.SilentBoardFailsTheConnection",
                                             .board = {"--silent"},
                                             .after = After::Untouched}),
                         CaseName());

// The installer, silently into the prefix: both programs and the Start-menu entry, the installed
// program's version block, where the entry starts it, and an uninstaller that takes it all away
// again.
TEST_F(WineTest, InstallerInstallsAndUninstalls) {
    const std::string setup =
        programs_ + "/../tervix-setup-" + std::string(TERVIX_VERSION) + ".exe";
    ASSERT_TRUE(std::filesystem::exists(setup)) << setup;
    const std::string folder = prefix_ + "/drive_c/Program Files/Tervix";
    const std::string entry =
        prefix_ + "/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tervix/Tervix.lnk";
    const Run install = Wine({setup, "/S"});
    ASSERT_EQ(install.Status, 0) << install.Out << install.Err;
    for (const char* file : {"tervix.exe", "tervix-flash.exe", "Uninstall.exe"}) {
        EXPECT_TRUE(std::filesystem::exists(folder + "/" + file)) << file;
    }
    EXPECT_TRUE(std::filesystem::exists(entry));

    const Run installed =
        Windows("tervix-desktop-tests",
                {"--gtest_filter=Installed.*", "--installed=C:\\Program Files\\Tervix\\tervix.exe",
                 std::string("--version=") + TERVIX_VERSION, "--entry=" + WinPath(entry)});
    EXPECT_EQ(installed.Status, 0) << installed.Out << installed.Err;
    EXPECT_THAT(installed.Out, testing::HasSubstr("[  PASSED  ] 2 tests.")) << installed.Out;

    // The uninstaller copies itself away and works from there: the files go a moment later.
    const Run uninstall = Wine({"C:\\Program Files\\Tervix\\Uninstall.exe", "/S"});
    ASSERT_EQ(uninstall.Status, 0) << uninstall.Out << uninstall.Err;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::filesystem::exists(folder) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(entry));
}

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The words of a text, one blank between each.
std::string Words(const std::string& text) {
    std::istringstream in(text);
    std::string words;
    for (std::string word; in >> word;) {
        words += (words.empty() ? "" : " ") + word;
    }
    return words;
}

} // namespace

// The installer's licence page shows a text for people, not the Debian package's machine-readable
// copyright file: its holder and terms without the fields around them.
TEST_F(WineTest, InstallerLicenceReadsAsPlainText) {
    const std::string script = programs_ + "/../_CPack_Packages/win64/NSIS/project.nsi";
    std::smatch page;
    const std::string nsi = ReadFile(script);
    ASSERT_TRUE(std::regex_search(nsi, page, std::regex("MUI_PAGE_LICENSE \"([^\"]+)\"")))
        << script;
    std::smatch fields;
    const std::string copyright = ReadFile(TERVIX_COPYRIGHT);
    ASSERT_TRUE(std::regex_search(
        copyright, fields, std::regex("Copyright: ([^\n]+)\nLicense: [^\n]+\n((?: [^\n]*\n?)+)")));
    EXPECT_EQ(Words(ReadFile(page[1].str())),
              Words("Tervix Copyright " + fields[1].str() + ". " + fields[2].str()));
}
