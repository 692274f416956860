#pragma once
// Shared set-up of the target tests: the profile's defaults with a short read time-out, a fresh
// working folder of the test's own (the programmer writes "temp.log" into the current folder),
// and the simulated board on the profile's port.

#include "link/ComPort.h"
#include "sim/BoardSession.h"
#include "tests/support/MemoryPort.h"
#include "tests/support/PortsFolder.h"
#include "tests/support/WorkingFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The board reached in-process through a SimPort stored in TargetProfile.PortHandle, with the
// port marked as connected.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::uint8_t Program(std::uint32_t address) const;
    std::uint8_t Eeprom(std::uint32_t address) const;
    std::uint64_t Requests(std::uint8_t command) const;

    std::shared_ptr<BoardSession> board_;
    std::unique_ptr<WorkingFolder> folder_;
};

// A ports folder of the test's own in TERVIX_PORTS, so that COM names reach the devices the test
// wires up, and the port question answered from a script.
class PortsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Whether the port can be opened now, that is nobody holds it.
    static bool Free(const char* comName);

    PortsFolder ports_;
    std::vector<std::string> asked_;
    std::deque<bool> answers_; // the answers to give in turn; No once they are used up
};

// The board behind an in-memory line, for tests that must see every request or lose chosen
// replies: the line records the request payloads, and a request for which drop answers true
// gets no reply (each attempt of an exchange is asked about anew).
struct LineBoard {
    explicit LineBoard(std::function<bool(const Bytes& request)> drop = {});
    ~LineBoard();

    std::shared_ptr<Board> board;
    AttachedPort line;
};

// Intel HEX text for one record, its checksum computed.
std::string HexLine(std::uint8_t type, std::uint16_t offset, const std::vector<std::uint8_t>& data);
inline constexpr const char* HexEnd = ":00000001FF\n";
