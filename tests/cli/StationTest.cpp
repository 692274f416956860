// tervix-flash station against boards that come and go: a board plugged in is a simulator started
// on its position's link, a board taken off is the simulator stopped. Positions flash each new
// board once, whatever it does while it stays; the lot's counters come back after a restart; a
// record file that refuses stops the station; the screen at 80 x 24 under tmux, and q while a
// job runs.

#include "tests/cli/CliFixture.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

using testing::HasSubstr;

namespace {

// A position looks at its port four times a second: this is six looks.
constexpr int StaysMs = 1500;

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

class StationTest : public CliTest {
protected:
    // A project locked to a two-row firmware, numbers from 1000, its record beside it; records
    // names the record file (relative to the project).
    void WriteProject(const std::vector<std::string>& ports, const std::string& start = "board",
                      const std::string& records = "boards.jsonl") {
        folder_.Create("fw.hex", RowsHex(2, 7));
        std::string list;
        for (const std::string& port : ports) {
            list += (list.empty() ? "\"" : ", \"") + port + "\"";
        }
        folder_.Create("line.toml", "name = \"widget\"\n[firmware]\nfile = \"fw.hex\"\n"
                                    "fast = true\n[serial]\ncounter = \"serials.txt\"\n"
                                    "at = \"eeprom:0x10\"\nformat = \"u32le\"\n[records]\n"
                                    "file = \"" +
                                        records +
                                        "\"\ntags = { lot = \"2026-49\" }\n[station]\n"
                                        "name = \"bench-3\"\nports = [" +
                                        list + "]\nstart = \"" + start + "\"\n");
        ASSERT_EQ(Flash({"serial", "init", "serials.txt", "--start", "1000"}).Status, 0);
        const Run lock = Flash({"project", "lock", "line.toml"});
        ASSERT_EQ(lock.Status, 0) << lock.Err;
    }

    // A station of ports, once each position has looked at its port: a board that answers
    // from then on is a new one.
    std::unique_ptr<ChildProcess> StartStation(const std::vector<std::string>& more,
                                               const std::vector<std::string>& ports) {
        std::vector<std::string> args{"station", "line.toml", "--plain"};
        args.insert(args.end(), more.begin(), more.end());
        auto station = StartFlash(args);
        for (std::size_t i = 0; i < ports.size(); ++i) {
            const std::string waiting = std::to_string(i + 1) + " " + ports[i] + ": waiting for";
            EXPECT_TRUE(station->AwaitOutput(waiting, ProcessTimeoutMs))
                << station->Out() << station->Err();
        }
        return station;
    }
};

TEST_F(StationTest, EachNewBoardIsFlashedOnceWhateverItDoesWhileItStays) {
    WriteProject({"COM3", "COM4"});
    auto station = StartStation({"--until", "4"}, {"COM3", "COM4"});
    SimBoard& first = AddBoard("COM3");
    ASSERT_TRUE(station->AwaitOutput("1 COM3: PASS serial 1000 in ", ProcessTimeoutMs))
        << station->Out();
    SimBoard& stuck = AddBoard("COM4", {"--stuck", "0x210=0x00"});
    ASSERT_TRUE(
        station->AwaitOutput("2 COM4: FAIL (exit 4): verify mismatch at 0x0210", ProcessTimeoutMs))
        << station->Out();
    // Both stay on their positions: neither is flashed again.
    EXPECT_FALSE(station->AwaitOutput("never", StaysMs));
    EXPECT_EQ(Count(station->Out(), "flashing it"), 2u) << station->Out();

    first.Stop();
    ASSERT_TRUE(station->AwaitOutput("1 COM3: the board was taken off", ProcessTimeoutMs));
    AddBoard("COM3");
    // The failed board released its number, which the next board takes.
    ASSERT_TRUE(station->AwaitOutput("1 COM3: PASS serial 1001", ProcessTimeoutMs))
        << station->Out();
    stuck.Stop();
    AddBoard("COM4");
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 0) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(), HasSubstr("2 COM4: PASS serial 1002"));
    EXPECT_THAT(station->Out(), HasSubstr("station bench-3 ended: 4 jobs; passed 3  failed 1"));

    std::vector<std::pair<int, nlohmann::json>> seen;
    for (const nlohmann::ordered_json& record : JsonLines(folder_.Read("boards.jsonl"))) {
        EXPECT_EQ(record["station"], "bench-3");
        EXPECT_EQ(record["project"], "widget");
        EXPECT_EQ(record["file"], "fw.hex");
        EXPECT_EQ(record["tags"], nlohmann::ordered_json::parse(R"({"lot":"2026-49"})"));
        seen.emplace_back(record["position"].get<int>(), record["serial"]);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, nlohmann::json>>{
                        {1, "1000"}, {2, nullptr}, {1, "1001"}, {2, "1002"}}));
    // The stuck board was erased once: one job.
    EXPECT_EQ(stuck.Stat("erase_program"), boards_[0]->Stat("erase_program"));
}

TEST_F(StationTest, TheLotsCountersGoOnAfterARestartAndABoardLeftOnIsNotFlashedAgain) {
    WriteProject({"COM3"});
    // A board of another lot in the same file does not count.
    folder_.Create("boards.jsonl", R"({"command":"flash","project":"widget","tags":{"lot":"1"},)"
                                   R"("exit_status":0,"serial":"7"})"
                                   "\n");
    auto station = StartStation({"--until", "1"}, {"COM3"});
    SimBoard& first = AddBoard("COM3");
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 0) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(), HasSubstr("lot 2026-49 in boards.jsonl: passed 1  failed 0  "
                                          "first-pass yield 100.0 %"));

    // Started again with the passed board still on its position.
    station = StartStation({"--until", "1"}, {});
    ASSERT_TRUE(station->AwaitOutput("1 COM3: a board was there before the station started",
                                     ProcessTimeoutMs))
        << station->Out();
    EXPECT_FALSE(station->AwaitOutput("flashing", StaysMs));
    first.Stop();
    AddBoard("COM3", {"--stuck", "0x210=0x00"});
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 0) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(), HasSubstr("station bench-3 ended: 1 job; passed 0  failed 1"));
    EXPECT_THAT(station->Out(), HasSubstr("lot 2026-49 in boards.jsonl: passed 1  failed 1  "
                                          "first-pass yield 50.0 %"));
    EXPECT_EQ(JsonLines(folder_.Read("boards.jsonl")).size(), 3u);
}

TEST_F(StationTest, ARecordFileThatRefusesStopsTheStation) {
    WriteProject({"COM3", "COM4"}, "board", "/dev/full");
    auto station = StartStation({"--until", "2"}, {"COM3", "COM4"});
    AddBoard("COM3");
    ASSERT_EQ(station->Wait(ProcessTimeoutMs), 2) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(),
                HasSubstr("station: no more jobs start: cannot append to the record /dev/full: "
                          "No space left on device"));
    EXPECT_EQ(Count(station->Out(), "flashing it"), 1u);
}

// SIGTERM stops the running job at once, and its board's line names the station and position.
TEST_F(StationTest, SigtermStopsTheRunningJobWithItsRecord) {
    WriteProject({"COM3"});
    auto station = StartStation({}, {"COM3"});
    AddBoard("COM3", {"--pace"});
    ASSERT_TRUE(station->AwaitOutput("1 COM3: a board answered: flashing it", ProcessTimeoutMs))
        << station->Out();
    station->Signal(SIGTERM);
    EXPECT_EQ(station->Wait(ProcessTimeoutMs), 143) << station->Out() << station->Err();
    EXPECT_THAT(station->Out(), HasSubstr("station bench-3 ended: 1 job; passed 0  failed 1"));
    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("boards.jsonl"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_THAT(records[0]["result"].get<std::string>(), HasSubstr("interrupted while "));
    EXPECT_EQ(records[0]["position"], 1);
    EXPECT_EQ(records[0]["station"], "bench-3");
}

// flash --project: one batch with the project's settings, the records named as the station's but
// for a position; what the project fixes may not be given beside it; a firmware changed since
// the lock is refused before any port opens, by flash and by the station.
TEST_F(StationTest, FlashProjectRunsOneBatchAndRefusesWhatTheProjectFixes) {
    WriteProject({"COM3"});
    SimBoard& untouched = AddBoard("COM3");
    const Run clash = Flash({"flash", "--project", "line.toml", "--port", "COM4", "--fast"});
    EXPECT_EQ(clash.Status, 64) << clash.Err;
    EXPECT_THAT(clash.Err, HasSubstr("leave out --fast, --port"));
    folder_.Create("fw.hex", RowsHex(2, 8));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"flash", "--project", "line.toml"},
          std::vector<std::string>{"station", "line.toml", "--plain", "--until", "1"}}) {
        const Run refused = Flash(args);
        EXPECT_EQ(refused.Status, 2) << args[0] << refused.Out;
        EXPECT_THAT(refused.Err, HasSubstr("line.toml line 4 locks the project to ")) << args[0];
    }
    untouched.Stop();
    EXPECT_EQ(untouched.Stat("requests"), 0u);

    folder_.Create("fw.hex", RowsHex(2, 7)); // the locked release again
    AddBoard("COM3");
    const Run run = Flash({"flash", "--project", "line.toml", "--quiet"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<nlohmann::ordered_json> records = JsonLines(folder_.Read("boards.jsonl"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["serial"], "1000");
    EXPECT_EQ(records[0]["station"], "bench-3");
    EXPECT_EQ(records[0]["position"], nullptr);
    EXPECT_EQ(records[0]["project"], "widget");
}

namespace {

// A tmux server of the test's own, one window of 80 x 24 that stays after its program ends.
class Tmux {
public:
    explicit Tmux(const TempFolder& folder)
        : socket_(folder.File("tmux.socket")),
          config_(folder.Create("tmux.conf", "set -g remain-on-exit on\n")),
          folder_(folder.Path().string()) {}
    ~Tmux() { Run({"kill-server"}); }

    std::string Run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"-S", socket_, "-f", config_};
        all.insert(all.end(), args.begin(), args.end());
        ChildProcess tmux("/usr/bin/tmux", all, folder_);
        EXPECT_EQ(tmux.Wait(ProcessTimeoutMs), 0) << tmux.Err();
        return tmux.Out();
    }
    std::string Screen() { return Run({"capture-pane", "-p", "-t", "station"}); }
    // The screen with the lines scrolled off it.
    std::string Scrolled() { return Run({"capture-pane", "-p", "-S", "-", "-t", "station"}); }
    // The program's exit status, once it has ended, as the shell that ran it prints it under its
    // last output (tmux itself now and then leaves the ended program unreaped).
    std::string ExitStatus() {
        constexpr std::string_view Dead = "exit status ";
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(ProcessTimeoutMs);
        std::string screen;
        while ((screen = Scrolled()).find(Dead) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::size_t at = screen.find(Dead);
        return at == std::string::npos
                   ? std::string()
                   : screen.substr(at + Dead.size(), screen.find('\n', at) - at - Dead.size());
    }
    // Whether text shows on the screen within the time given.
    bool Shows(const std::string& text, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Screen().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return true;
    }

private:
    std::string socket_;
    std::string config_;
    std::string folder_;
};

// The screen's lines that hold text.
std::vector<std::string> LinesWith(const std::string& screen, const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) {
        if (line.find(text) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace

TEST_F(StationTest, TheScreenAt80By24AndQWithAJobRunning) {
    WriteProject({"COM3", "COM4"});
    Tmux tmux(folder_);
    tmux.Run({"new-session",
              "-d",
              "-s",
              "station",
              "-x",
              "80",
              "-y",
              "24",
              "-c",
              folder_.Path().string(),
              "sh",
              "-c",
              "\"$@\"; echo \"exit status $?\"",
              "sh",
              "env",
              "TERVIX_PORTS=" + ports_,
              "TMPDIR=" + folder_.Path().string(),
              BinPath("tervix-flash"),
              "station",
              "line.toml"});
    ASSERT_TRUE(tmux.Shows("no device", ProcessTimeoutMs)) << tmux.Screen();
    std::string screen = tmux.Screen();
    EXPECT_EQ(std::count(screen.begin(), screen.end(), '\n'), 24) << screen;
    EXPECT_THAT(screen, HasSubstr("station bench-3   project widget\n"
                                  "firmware fw.hex 64082cc9ea1c   tags lot=2026-49\n"));
    EXPECT_THAT(LinesWith(screen, "1 COM3 "),
                testing::ElementsAre(testing::MatchesRegex("1 COM3 +2 COM4 *")));
    EXPECT_THAT(screen, testing::ContainsRegex("\nwaiting +waiting *\n"));
    EXPECT_THAT(screen, HasSubstr(" 2 COM4: waiting for a board (no device)\n"));
    EXPECT_THAT(screen, HasSubstr("lot 2026-49 in boards.jsonl  passed 0  failed 0  "
                                  "first-pass yield -"));
    EXPECT_THAT(screen,
                HasSubstr("a board starts when it answers   1-9: start one again   q: end"));

    AddBoard("COM3");
    ASSERT_TRUE(tmux.Shows("PASS 1000", ProcessTimeoutMs)) << tmux.Screen();
    screen = tmux.Screen();
    EXPECT_THAT(LinesWith(screen, "PASS 1000"),
                testing::ElementsAre(testing::MatchesRegex("PASS 1000 +waiting *")));
    EXPECT_THAT(screen, HasSubstr("take it off"));
    EXPECT_THAT(screen, testing::ContainsRegex("station since [0-9:]+  passed 1  failed 0  "
                                               "first-pass yield 100.0 %  \\(1 job\\)"));
    EXPECT_THAT(screen, HasSubstr("lot 2026-49 in boards.jsonl  passed 1  failed 0"));

    // A board slow enough to be running when q comes: its job ends, then the station.
    AddBoard("COM4", {"--pace"});
    ASSERT_TRUE(tmux.Shows("2 COM4: a board answered: flashing it", ProcessTimeoutMs))
        << tmux.Screen();
    tmux.Run({"send-keys", "-t", "station", "q"});
    EXPECT_EQ(tmux.ExitStatus(), "0") << tmux.Scrolled();
    EXPECT_THAT(tmux.Scrolled(), HasSubstr("station bench-3 ended: 2 jobs; passed 2  failed 0"));
    EXPECT_THAT(tmux.Scrolled(), HasSubstr("2   COM4       1 job   PASS 1001 in "));
    EXPECT_EQ(JsonLines(folder_.Read("boards.jsonl")).size(), 2u);
}
