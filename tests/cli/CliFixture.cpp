#include "tests/cli/CliFixture.h"

#include "target/HexRecord.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

HexImage ReadHexImage(const std::string& path) {
    HexImage image;
    std::FILE* file = std::fopen(path.c_str(), "r");
    EXPECT_NE(file, nullptr) << path;
    if (file == nullptr) {
        return image;
    }
    HexRecordReader reader(file);
    HexRecord record;
    std::uint32_t upper = 0;
    HexStatus status;
    while ((status = reader.Next(record)) == HexStatus::Record &&
           record.Type != HexType::EndOfFile) {
        if (record.Type == HexType::ExtendedLinear) {
            upper = static_cast<std::uint32_t>(record.Data[0] << 8 | record.Data[1]);
        } else if (record.Type == HexType::Data) {
            for (unsigned i = 0; i < record.Count; ++i) {
                image[(upper << 16) + record.Offset + i] = record.Data[i];
            }
        }
    }
    EXPECT_EQ(status, HexStatus::Record) << path << " line " << reader.Line();
    std::fclose(file);
    return image;
}

std::string RowsHex(unsigned rows, std::uint8_t first) {
    std::string text;
    for (unsigned row = 0; row < rows; ++row) {
        const unsigned address = 0x200 + row * 16;
        unsigned sum = 16 + (address >> 8) + (address & 0xFF);
        char line[64];
        std::snprintf(line, sizeof line, ":10%04X00", address);
        text += line;
        for (unsigned i = 0; i < 16; ++i) {
            const unsigned byte = (first + row * 16 + i) & 0xFF;
            sum += byte;
            std::snprintf(line, sizeof line, "%02X", byte);
            text += line;
        }
        std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return text + ":00000001FF\n";
}

std::vector<nlohmann::ordered_json> JsonLines(const std::string& text) {
    std::vector<nlohmann::ordered_json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::ordered_json::parse(line, nullptr, false));
        EXPECT_FALSE(lines.back().is_discarded()) << line;
    }
    return lines;
}

std::vector<std::uint8_t> U32le(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::string> JournalEvents(const std::string& journal, const std::string& serial) {
    std::vector<std::string> events;
    for (const nlohmann::ordered_json& line : JsonLines(journal)) {
        if (line.value("serial", "") == serial) {
            events.push_back(line["event"]);
        }
    }
    return events;
}

pid_t BoardChild(pid_t pid, const std::string& folder) {
    for (const pid_t child : ChildrenOf(pid)) {
        std::error_code ec;
        const auto cwd =
            std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/cwd", ec);
        if (!ec && cwd.filename() == folder) {
            return child;
        }
    }
    return -1;
}

bool AllEnd(const std::vector<pid_t>& pids, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
        if (std::all_of(pids.begin(), pids.end(), Ended)) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string ExampleHex() {
    return TERVIX_EXAMPLES_DIR "/blink.hex";
}

namespace {

std::vector<std::string> BoardOptions(const std::string& link, const std::string& dump,
                                      const std::vector<std::string>& options) {
    std::vector<std::string> all{"--link", link, "--dump", dump, "--stats"};
    all.insert(all.end(), options.begin(), options.end());
    return all;
}

} // namespace

SimBoard::SimBoard(const std::string& folder, const std::string& ports, const std::string& comName,
                   const std::vector<std::string>& options)
    : dump_(folder + "/" + comName + ".dump.hex"),
      process_(BoardOptions(ports + "/" + comName, dump_, options)) {
    EXPECT_TRUE(process_.Ok()) << process_.Errors();
}

void SimBoard::Stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    ASSERT_EQ(process_.Stop(), 0) << process_.Errors();
    memory_ = ReadHexImage(dump_);
}

std::vector<std::uint8_t> SimBoard::Bytes(std::uint32_t address, std::size_t n) const {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < n; ++i) {
        const auto it = memory_.find(address + static_cast<std::uint32_t>(i));
        bytes.push_back(it == memory_.end() ? 0xFF : it->second);
    }
    return bytes;
}

void CliTest::SetUp() {
    ASSERT_FALSE(folder_.Path().empty());
    ports_ = folder_.File("ports");
    ASSERT_TRUE(std::filesystem::create_directory(ports_));
}

SimBoard& CliTest::AddBoard(const std::string& comName, const std::vector<std::string>& options) {
    boards_.push_back(std::make_unique<SimBoard>(folder_.Path(), ports_, comName, options));
    return *boards_.back();
}

std::unique_ptr<ChildProcess> CliTest::StartFlash(const std::vector<std::string>& args,
                                                  const std::string& input, bool ownGroup) {
    // Temporary files (the run's copy of the HEX file) stay in the test's folder, so one left
    // by a killed run goes with it.
    return std::make_unique<ChildProcess>(
        "tervix-flash", args, folder_.Path(),
        std::vector<std::string>{"TERVIX_PORTS=" + ports_, "TMPDIR=" + folder_.Path().string()},
        input, ownGroup);
}

CliTest::Run CliTest::Flash(const std::vector<std::string>& args) {
    std::unique_ptr<ChildProcess> child = StartFlash(args);
    Run run;
    run.Status = child->Wait(ProcessTimeoutMs);
    run.Out = child->Out();
    run.Err = child->Err();
    return run;
}

CliTest::Run CliTest::FlashAsUser(const std::vector<std::string>& args) {
    EXPECT_EQ(chmod(folder_.Path().c_str(), 0777), 0);
    const bool root = geteuid() == 0;
    std::vector<std::string> line = args;
    if (root) {
        line.insert(line.begin(),
                    {"--reuid=65534", "--regid=65534", "--clear-groups", BinPath("tervix-flash")});
    }
    ChildProcess child(root ? "/usr/bin/setpriv" : "tervix-flash", line, folder_.Path(),
                       {"TERVIX_PORTS=" + ports_});
    Run run;
    run.Status = child.Wait(ProcessTimeoutMs);
    run.Out = child.Out();
    run.Err = child.Err();
    return run;
}

std::string CliTest::InRunMode(const std::string& hex) {
    std::string text;
    std::ifstream in(hex);
    for (std::string line; !hex.empty() && std::getline(in, line);) {
        if (line.rfind(":00000001FF", 0) != 0) {
            text += line + "\n";
        }
    }
    const std::string name =
        (hex.empty() ? std::string("board") : std::filesystem::path(hex).stem().string()) +
        ".run-mode.hex";
    return folder_.Create(name, text + ":0200000400F00A\n:0100FF000000\n:00000001FF\n");
}
