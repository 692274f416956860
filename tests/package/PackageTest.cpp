// The package as apt would install it: what it holds, what it depends on, and that the programs
// unpacked from it run and agree with it on the version.

#include "res/Version.h"
#include "tests/support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

using testing::HasSubstr;

namespace {

struct Output {
    int Status = -1;
    std::string Text;
};

// Runs a shell command line; standard output and error together.
Output Shell(const std::string& command) {
    Output out;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.Text.append(buffer, got);
    }
    const int status = pclose(pipe);
    out.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// The package cpack made for this version, "" when there is none.
std::string PackageFile() {
    const char* folder = std::getenv("TERVIX_PACKAGE_DIR");
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder ? folder : ".", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(std::string("tervix_") + TervixVersion + "_") &&
            name.ends_with(".deb")) {
            return entry.path().string();
        }
    }
    return {};
}

class PackageTest : public testing::Test {
protected:
    void SetUp() override {
        deb_ = PackageFile();
        ASSERT_FALSE(deb_.empty()) << "no package for " << TervixVersion;
    }
    std::string deb_;
};

} // namespace

TEST_F(PackageTest, HoldsProgramsManualsMenuEntryAndCompletion) {
    const Output list = Shell("dpkg-deb -c " + deb_);
    ASSERT_EQ(list.Status, 0) << list.Text;
    for (const char* file : {
             "./usr/bin/tervix",
             "./usr/bin/tervix-flash",
             "./usr/bin/tervix-sim",
             "./usr/bin/tervix-line",
             "./usr/share/man/man1/tervix.1.gz",
             "./usr/share/man/man1/tervix-line.1.gz",
             "./lib/systemd/system/tervix-line.service",
             "./etc/default/tervix-line",
             "./usr/share/man/man1/tervix-flash.1.gz",
             "./usr/share/man/man1/tervix-sim.1.gz",
             "./usr/share/applications/tervix.desktop",
             "./usr/share/icons/hicolor/32x32/apps/tervix.png",
             "./usr/share/bash-completion/completions/tervix-flash",
             "./usr/share/doc/tervix/copyright",
             "./usr/share/doc/tervix/changelog.gz",
         }) {
        EXPECT_THAT(list.Text, HasSubstr(std::string(" ") + file + "\n"));
    }
    // Owned by root, whoever built it.
    EXPECT_THAT(list.Text, testing::Not(testing::ContainsRegex("^[-d][rwx-]{9} [^r]")));
}

TEST_F(PackageTest, VersionAndLibrariesComeFromTheBuild) {
    const Output version = Shell("dpkg-deb -f " + deb_ + " Version");
    EXPECT_EQ(version.Text, std::string(TervixVersion) + "\n");
    // Found by dpkg-shlibdeps in the programs, not written by hand.
    const Output depends = Shell("dpkg-deb -f " + deb_ + " Depends");
    EXPECT_THAT(depends.Text, HasSubstr("libc6"));
    EXPECT_THAT(depends.Text, HasSubstr("libqt6widgets6"));
    EXPECT_THAT(depends.Text, HasSubstr("libstdc++6"));
}

TEST_F(PackageTest, UnpackedProgramsRunAndReportThePackagesVersion) {
    TempFolder root;
    const Output unpack = Shell("dpkg -x " + deb_ + " " + root.Path().string());
    ASSERT_EQ(unpack.Status, 0) << unpack.Text;
    for (const std::string program : {"tervix", "tervix-flash", "tervix-sim", "tervix-line"}) {
        // The desktop program must answer without a display.
        const Output run = Shell("env -u DISPLAY -u WAYLAND_DISPLAY " + root.File("usr/bin/") +
                                 program + " --version");
        EXPECT_EQ(run.Status, 0) << program << ": " << run.Text;
        EXPECT_EQ(run.Text, program + " " + TervixVersion + "\n");
    }
    // The manual of tervix-flash carries every command's options, not only the top level.
    const Output manual = Shell("zcat " + root.File("usr/share/man/man1/tervix-flash.1.gz"));
    EXPECT_THAT(manual.Text, HasSubstr(".TH TERVIX-FLASH \"1\""));
    EXPECT_THAT(manual.Text, HasSubstr("no\\-run\\-mode"));
    EXPECT_THAT(manual.Text, HasSubstr("\\-\\-space"));
    EXPECT_THAT(manual.Text, HasSubstr("\\-\\-timeout\\-ms"));
    for (const char* section :
         {".SH ENVIRONMENT", ".SH FILES", ".SH \"EXIT STATUS\"", ".SH RECORDS",
          ".SH \"SERIAL NUMBERS\"", ".SH \"PROJECT FILE\"", ".SH EXAMPLES"}) {
        EXPECT_THAT(manual.Text, HasSubstr(std::string(section) + "\n")) << section;
    }
    // Every heading of a command starts a paragraph of its own, never running into the text.
    std::istringstream lines(manual.Text);
    std::string previous;
    for (std::string line; std::getline(lines, line); previous = line) {
        if (line == "Options:" || line == "Positionals:" || line == "Subcommands:") {
            EXPECT_TRUE(previous.starts_with(".")) << previous << " / " << line;
        }
    }
}

// The line server's service as systemd and Debian's checker see it: a valid unit that runs as
// its own user with its state under /var/lib/tervix-line, settings in a configuration file that
// upgrades keep, and a package lintian finds nothing wrong with.
TEST_F(PackageTest, TheLineServerIsAServiceThatSystemdAndLintianAccept) {
    TempFolder root;
    ASSERT_EQ(Shell("dpkg -x " + deb_ + " " + root.Path().string()).Status, 0);
    const std::string unitPath = "lib/systemd/system/tervix-line.service";
    // The targets the unit depends on by default come from this machine's systemd, beside the
    // unpacked files.
    ASSERT_EQ(Shell("mkdir -p " + root.File("usr/lib/systemd") + " && cp -r /lib/systemd/system " +
                    root.File("usr/lib/systemd/"))
                  .Status,
              0);
    const Output verify =
        Shell("systemd-analyze verify --man=no --root=" + root.Path().string() + " /" + unitPath);
    EXPECT_EQ(verify.Status, 0) << verify.Text;
    EXPECT_EQ(verify.Text, "");
    const std::string unit = root.Read(unitPath);
    for (const char* line :
         {"User=tervix-line\n", "StateDirectory=tervix-line\n",
          "EnvironmentFile=/etc/default/tervix-line\n", "ExecStart=/usr/bin/tervix-line serve\n",
          "WantedBy=multi-user.target\n"}) {
        EXPECT_THAT(unit, HasSubstr(line));
    }
    const std::string settings = root.Read("etc/default/tervix-line");
    EXPECT_THAT(settings, HasSubstr("\nTERVIX_LINE_DB=sqlite:/var/lib/tervix-line/line.db\n"));
    EXPECT_THAT(settings, HasSubstr("\nTERVIX_LINE_LISTEN=127.0.0.1:8470\n"));
    EXPECT_EQ(Shell("dpkg-deb -I " + deb_ + " conffiles").Text, "/etc/default/tervix-line\n");
    const Output postinst = Shell("dpkg-deb -I " + deb_ + " postinst");
    EXPECT_THAT(postinst.Text, HasSubstr("adduser --system --group --home /var/lib/tervix-line"));
    EXPECT_THAT(Shell("dpkg-deb -f " + deb_ + " Depends").Text, HasSubstr("adduser"));
    // Errors and warnings fail; lintian's note that it runs as root is no tag.
    const Output lintian = Shell("lintian --fail-on error,warning " + deb_);
    EXPECT_EQ(lintian.Status, 0) << lintian.Text;
    EXPECT_THAT(lintian.Text, testing::Not(testing::ContainsRegex("^[EW]: ")));
}

// What Tab offers for the command line typed so far, through bash's completion machinery and the
// packaged script, one word a line.
std::string Completion(const TempFolder& root, const std::string& line) {
    root.Create("complete.sh", "source /usr/share/bash-completion/bash_completion\n"
                               "source " +
                                   root.File("usr/share/bash-completion/completions/tervix-flash") +
                                   "\n"
                                   "COMP_LINE='" +
                                   line +
                                   "'\n"
                                   "COMP_POINT=${#COMP_LINE}\n"
                                   "read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
                                   "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
                                   "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                                   "_tervix_flash\n"
                                   "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    return Shell("cd " + root.Path().string() + " && bash complete.sh").Text;
}

std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST_F(PackageTest, CompletionOffersCommandsOptionsPortsAndFiles) {
    TempFolder root;
    ASSERT_EQ(Shell("dpkg -x " + deb_ + " " + root.Path().string()).Status, 0);
    root.Create("board.hex", "");
    root.Create("BOARD2.HEX", "");
    root.Create("notes.txt", "");
    root.Create("line.toml", "");
    struct Case {
        std::string line;
        std::vector<std::string> offered;
        std::vector<std::string> notOffered;
    };
    const std::vector<Case> cases = {
        {"tervix-flash ",
         {"flash", "verify", "erase", "run-mode", "read", "check", "ports", "serial", "project",
          "station"},
         {}},
        {"tervix-flash flash --p", {"--port"}, {"--space"}},
        {"tervix-flash read --space e", {"eeprom"}, {"program"}},
        {"tervix-flash flash --port COM2", {"COM2", "COM21"}, {"COM3"}},
        {"tervix-flash flash ", {"board.hex", "BOARD2.HEX"}, {"notes.txt"}},
        {"tervix-flash verify ", {"board.hex"}, {"notes.txt", "flash"}},
        {"tervix-flash flash --record ", {"notes.txt", "board.hex"}, {}},
        {"tervix-flash flash --serial-list n", {"notes.txt"}, {}},
        {"tervix-flash flash --serial-at e", {"eeprom:"}, {"id:"}},
        {"tervix-flash flash --serial-format a", {"ascii:"}, {"u16le"}},
        {"tervix-flash serial ", {"init", "status"}, {"flash"}},
        {"tervix-flash serial status ", {"notes.txt"}, {}},
        {"tervix-flash project ", {"lock", "check"}, {"init"}},
        {"tervix-flash project check ", {"line.toml"}, {"notes.txt", "board.hex"}},
        {"tervix-flash station ", {"line.toml"}, {"notes.txt", "board.hex"}},
        {"tervix-flash flash --project ", {"line.toml"}, {"board.hex"}},
        {"tervix-flash run-mode -", {"--boot", "--yes"}, {"--no-run-mode"}},
    };
    for (const Case& c : cases) {
        const std::string out = Completion(root, c.line);
        for (const std::string& word : c.offered) {
            EXPECT_THAT(out, HasSubstr(word + "\n")) << c.line;
        }
        for (const std::string& word : c.notOffered) {
            EXPECT_THAT(out, testing::Not(HasSubstr(word + "\n"))) << c.line;
        }
    }
}

// For every command, the options its --help lists are the options Tab offers, so the two cannot
// drift apart.
TEST_F(PackageTest, CompletionOffersExactlyTheOptionsOfEachCommandsHelp) {
    TempFolder root;
    ASSERT_EQ(Shell("dpkg -x " + deb_ + " " + root.Path().string()).Status, 0);
    const std::string program = root.File("usr/bin/tervix-flash");
    for (const std::string command :
         {"flash", "verify", "erase", "run-mode", "read", "check", "ports", "serial", "serial init",
          "serial status", "project", "project lock", "project check", "station", "line",
          "line push"}) {
        const Output help = Shell(program + " " + command + " --help");
        ASSERT_EQ(help.Status, 0) << command;
        std::set<std::string> listed;
        std::istringstream lines(help.Text);
        for (std::string line; std::getline(lines, line);) {
            // An option's line: "  -y,--yes ...", "  --port TEXT ..."
            if (line.starts_with("  -")) {
                std::istringstream names(line.substr(2, line.find(' ', 2) - 2));
                for (std::string name; std::getline(names, name, ',');) {
                    listed.insert(name);
                }
            }
        }
        EXPECT_GT(listed.size(), 2u) << command;
        EXPECT_EQ(Words(Completion(root, "tervix-flash " + command + " -")), listed) << command;
    }
}
