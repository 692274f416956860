#include "tests/target/TargetFixture.h"

#include "sim/SimPort.h"
#include "target/TargetProfile.h"

#include <cstdio>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() : previous_(fs::current_path()) {
    if (folder_.Path().empty()) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    fs::current_path(folder_.Path());
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
    EXPECT_TRUE(folder_.Write(name, content)) << name;
    return folder_.File(name);
}

void BoardTest::SetUp() {
    LoadDefaults();
    TargetProfile.ReadTimeoutMs = 200;
    folder_ = std::make_unique<ScratchFolder>();
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
