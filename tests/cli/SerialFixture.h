#pragma once
// Serial-number runs of the example: a counter c.txt made for each test, lists, and stations of
// four boards that share it.

#include "tests/cli/CliFixture.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The JSON lines of text, each object's keys compared regardless of their order.
inline std::vector<nlohmann::json> Lines(const std::string& text) {
    const std::vector<nlohmann::ordered_json> lines = JsonLines(text);
    return {lines.begin(), lines.end()};
}

// The counter's options: u32le numbers at eeprom:0x10.
inline const std::vector<std::string> Counter = {
    "--serial-at", "eeprom:0x10", "--serial-format", "u32le", "--serial-counter", "c.txt"};

class SerialTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        const Run init = Flash({"serial", "init", "c.txt", "--start", "1000"});
        ASSERT_EQ(init.Status, 0) << init.Err;
        initJournal_ = folder_.Read("c.txt.journal");
        ASSERT_EQ(Lines(initJournal_).at(0)["kind"], "counter");
    }

    // A list file with its journal.
    void MakeList(const std::string& name, const std::string& values) {
        folder_.Create(name, values);
        const Run init = Flash({"serial", "init", name, "--list"});
        ASSERT_EQ(init.Status, 0) << init.Err;
    }

    Run FlashWith(const std::vector<std::string>& ports, std::vector<std::string> extra = Counter) {
        std::vector<std::string> args{"flash", ExampleHex(), "--record", "r.jsonl"};
        for (const std::string& port : ports) {
            args.insert(args.end(), {"--port", port});
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return Flash(args);
    }

    // Four boards COM3-COM6 in a station folder of their own, each found by its device.
    std::string Station(const std::string& name, std::map<std::string, SimBoard*>& byDevice) {
        const std::string ports = folder_.File(name + "/ports");
        EXPECT_TRUE(std::filesystem::create_directories(ports));
        for (int i = 3; i <= 6; ++i) {
            boards_.push_back(std::make_unique<SimBoard>(
                folder_.File(name), ports, "COM" + std::to_string(i), std::vector<std::string>{}));
            byDevice[boards_.back()->Device()] = boards_.back().get();
        }
        return ports;
    }

    std::string initJournal_;
};
