#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

SimProcess::SimProcess(const std::vector<std::string>& options)
    : ChildProcess("tervix-sim", options, ".") {
    if (const auto it = std::find(options.begin(), options.end(), "--link");
        it != options.end() && it + 1 != options.end()) {
        link_ = *(it + 1);
    }
    // The first line is the port path; the port is open and linked once it is printed.
    if (AwaitOutput("\n", ProcessTimeoutMs)) {
        slavePath_ = Out().substr(0, Out().find('\n'));
    }
}

SimProcess::~SimProcess() {
    if (Stop(SIGKILL) < 0 || link_.empty() || slavePath_.empty()) {
        return;
    }
    std::error_code ec;
    if (std::filesystem::read_symlink(link_, ec) == slavePath_) {
        std::filesystem::remove(link_, ec);
    }
}

int SimProcess::Stop(int signal) {
    Signal(signal);
    return Wait(ProcessTimeoutMs);
}

std::string SimProcess::Output() const {
    const std::size_t end = Out().find('\n');
    return end == std::string::npos ? Out() : Out().substr(end + 1);
}

std::map<std::string, std::string> SimProcess::Stats() const {
    std::map<std::string, std::string> stats;
    std::istringstream lines(Output());
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) {
            stats[line.substr(0, colon)] = line.substr(colon + 2);
        }
    }
    return stats;
}

std::string SimProcess::StatText(const std::string& key) const {
    const auto stats = Stats();
    const auto it = stats.find(key);
    EXPECT_NE(it, stats.end()) << "no statistic " << key << " in:\n" << Output();
    return it == stats.end() ? std::string() : it->second;
}

std::uint64_t SimProcess::Stat(const std::string& key) const {
    return std::stoull("0" + StatText(key));
}
