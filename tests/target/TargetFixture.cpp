#include "tests/target/TargetFixture.h"

#include "sim/SimPort.h"
#include "target/Connection.h"
#include "target/TargetProfile.h"

#include <cstdio>

void BoardTest::SetUp() {
    LoadDefaults();
    TargetProfile.ReadTimeoutMs = 200;
    folder_ = std::make_unique<WorkingFolder>();
    board_ = std::make_shared<BoardSession>();
    TargetProfile.PortHandle = AttachSimPort(board_, 200);
    TargetProfile.Connected = 1;
}

void BoardTest::TearDown() {
    CloseComPort(TargetProfile.PortHandle);
    LoadDefaults();
    folder_.reset();
}

std::uint8_t BoardTest::Program(std::uint32_t address) const {
    return board_->WithBoard([&](const Board& b) { return b.ReadProgramSpace(address); });
}

std::uint8_t BoardTest::Eeprom(std::uint32_t address) const {
    return board_->WithBoard([&](const Board& b) { return b.ReadEeprom(address); });
}

std::uint64_t BoardTest::Requests(std::uint8_t command) const {
    return board_->Stats().RequestsByCommand[command];
}

void PortsTest::SetUp() {
    LoadDefaults();
    TargetProfile.ReadTimeoutMs = 200;
    ASSERT_FALSE(ports_.Path().empty());
    SetPortQuestion([this](const char* text, const char* caption) {
        EXPECT_STREQ(caption, "Serial Port Selected?");
        asked_.emplace_back(text);
        if (answers_.empty()) {
            return false;
        }
        const bool yes = answers_.front();
        answers_.pop_front();
        return yes;
    });
}

void PortsTest::TearDown() {
    DisconnectTarget();
    SetPortQuestion({});
    LoadDefaults();
}

bool PortsTest::Free(const char* comName) {
    const ComHandle handle = OpenComPort(comName, TargetProfile.BaudRate, 200);
    if (handle == InvalidComHandle) {
        return false;
    }
    CloseComPort(handle);
    return true;
}

LineBoard::LineBoard(std::function<bool(const Bytes& request)> drop)
    : board(std::make_shared<Board>()), line(AttachMemoryPort(200)) {
    std::shared_ptr<Board> chip = board;
    line.port->SetResponder([chip, drop = std::move(drop)](const Bytes& request) -> Bytes {
        if (drop && drop(request)) {
            return {};
        }
        auto reply = chip->Execute(request.data(), request.size());
        return reply ? Frame(*reply) : Bytes{};
    });
    TargetProfile.PortHandle = line.handle;
}

LineBoard::~LineBoard() {
    CloseComPort(line.handle);
}

std::string HexLine(std::uint8_t type, std::uint16_t offset,
                    const std::vector<std::uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFFu) + type;
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(offset), static_cast<unsigned>(type));
    std::string line = field;
    for (std::uint8_t b : data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(b));
        line += field;
        sum += b;
    }
    std::snprintf(field, sizeof field, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
    return line + field;
}
