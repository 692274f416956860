// Which ports a many-board run opens and what it says about each: a named port alone, every port
// of --all with its finding, ports this user may not open.

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
