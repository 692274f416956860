#include "tests/target/TargetFixture.h"

#include "sim/SimPort.h"
#include "target/TargetProfile.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() : previous_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "tervix-target-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    path_ = pattern;
    fs::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    if (!path_.empty()) {
        fs::remove_all(path_, ignored);
    }
}

std::string ScratchFolder::Write(const std::string& name, const std::string& content) const {
    const fs::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
}

std::string ScratchFolder::Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
