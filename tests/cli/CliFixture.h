#pragma once
// What the end-to-end tests of tervix-flash stand on: a fresh working folder with its own ports
// folder, simulated boards linked into it as COM ports, and HEX images read into byte maps.

#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Full address (upper address x 65536 + offset) to byte.
using HexImage = std::map<std::uint32_t, std::uint8_t>;

// Reads the data records of an Intel HEX file; fails the test when the file is unreadable.
HexImage ReadHexImage(const std::string& path);

// The bundled example (examples/blink.hex).
std::string ExampleHex();

// Intel HEX text of rows 16-byte rows of program memory from 0x200, byte i of the image being
// first + i (mod 256), and the end record.
std::string RowsHex(unsigned rows, std::uint8_t first);

// Upper addresses the way the files use them.
inline constexpr std::uint32_t EepromBase = 0xF00000;

// The JSON objects of a record file or of --json output, one per line, their keys in order.
std::vector<nlohmann::ordered_json> JsonLines(const std::string& text);

// A journal's events for one serial number, in order.
// The bytes of value, least significant first.
std::vector<std::uint8_t> U32le(std::uint32_t value);

std::vector<std::string> JournalEvents(const std::string& journal, const std::string& serial);

// The child of pid that runs the board whose folder is named, -1 when none does.
pid_t BoardChild(pid_t pid, const std::string& folder);

// Whether every process of pids has ended within the time given.
bool AllEnd(const std::vector<pid_t>& pids, std::chrono::milliseconds within);

// A tervix-sim process on a pseudo-terminal, linked as a COM name in the ports folder.
class SimBoard {
public:
    SimBoard(const std::string& folder, const std::string& ports, const std::string& comName,
             const std::vector<std::string>& options);

    // The pseudo-terminal's slave path.
    const std::string& Device() const { return process_.SlavePath(); }

    // Ends the board; it then writes its memories and statistics. Fails the test when it does not
    // end cleanly. A board not stopped is killed when the test ends.
    void Stop();
    const HexImage& Memory() const { return memory_; }
    // After Stop: n bytes from address, 0xFF where the dump has none.
    std::vector<std::uint8_t> Bytes(std::uint32_t address, std::size_t n) const;
    std::uint64_t Stat(const std::string& key) const { return process_.Stat(key); }
    std::string StatText(const std::string& key) const { return process_.StatText(key); }

private:
    std::string dump_;
    SimProcess process_;
    HexImage memory_;
    bool stopped_ = false;
};

class CliTest : public testing::Test {
protected:
    void SetUp() override;

    // A board linked as comName; the test owns it until the fixture ends.
    SimBoard& AddBoard(const std::string& comName, const std::vector<std::string>& options = {});

    // Runs tervix-flash in the working folder against the ports folder, to its end.
    struct Run {
        int Status = -1;
        std::string Out;
        std::string Err;
    };
    Run Flash(const std::vector<std::string>& args);
    // The same as a user in no group, where the tests run as root (who opens any device): as
    // nobody, in a working folder that everyone may write.
    Run FlashAsUser(const std::vector<std::string>& args);
    // Started but not waited for; with ownGroup as the leader of a process group.
    std::unique_ptr<ChildProcess> StartFlash(const std::vector<std::string>& args,
                                             const std::string& input = "/dev/null",
                                             bool ownGroup = false);

    std::string Path(const std::string& name) const { return folder_.File(name); }

    // An image for a board's --load: the HEX file's records (none when empty) with the run-mode
    // flag set, as on a board whose application runs.
    std::string InRunMode(const std::string& hex = {});

    TempFolder folder_;
    std::string ports_;
    // Declared after the folder, so the boards end before it is removed.
    std::vector<std::unique_ptr<SimBoard>> boards_;
};
