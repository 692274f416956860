// ProgramHexFile over arbitrary files against the simulated board, once with every memory space
// enabled and once with all of them disabled. What the run should send is worked out here from
// the file alone, apart from the programmer, and compared with what the board received and with
// "temp.log".

#include "FuzzCheck.h"
#include "link/PortDevice.h"
#include "sim/Board.h"
#include "sim/BoardFraming.h"
#include "target/HexCheck.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* InputName = "input.hex";

// The board behind an in-memory line that also keeps every request it carried out.
class BoardPort final : public PortDevice {
public:
    int ReadByte(std::uint8_t* byte) override {
        if (replies_.empty()) {
            return 0;
        }
        *byte = replies_.front();
        replies_.pop_front();
        return 1;
    }
    int WriteByte(std::uint8_t byte) override {
        if (decoder_.Feed(byte) == FrameEvent::Request) {
            const std::vector<std::uint8_t>& request = decoder_.Payload();
            requests_.push_back(request);
            if (auto reply = board_.Execute(request.data(), request.size())) {
                std::vector<std::uint8_t> wire = EncodeFrame(*reply);
                replies_.insert(replies_.end(), wire.begin(), wire.end());
            }
        }
        return 1;
    }
    bool Close() override { return true; }
    std::uint32_t ReadTimeoutMs() const override { return 60000; }

    const Board& TheBoard() const { return board_; }
    const std::vector<std::vector<std::uint8_t>>& Requests() const { return requests_; }

private:
    Board board_;
    FrameDecoder decoder_;
    std::deque<std::uint8_t> replies_;
    std::vector<std::vector<std::uint8_t>> requests_;
};

struct Write {
    std::uint8_t Command;
    std::uint32_t Address;
    std::vector<std::uint8_t> Data;
    std::size_t Row; // index of the row it belongs to
    bool operator==(const Write& o) const {
        return Command == o.Command && Address == o.Address && Data == o.Data;
    }
};

struct Expectation {
    std::int32_t Result = 0;
    std::int32_t Lines = 0;
    std::vector<std::string> LogLines;
    std::vector<Write> Writes;
};

// Line reads of at most 255 characters, as the programmer's first pass counts them; a lone CR,
// a LF and a CRLF each end one line.
std::int32_t CountLines(const std::string& text) {
    std::int32_t lines = 0;
    std::size_t inLine = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        ++inLine;
        const bool loneCr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        if (text[i] == '\n' || loneCr || inLine == 255) {
            ++lines;
            inLine = 0;
        }
    }
    return lines + (inLine > 0 ? 1 : 0);
}

int Digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string LogLine(std::uint32_t address, const std::uint8_t* row) {
    char text[16 * 3 + 16];
    int n = std::snprintf(text, sizeof text, " %04X ", static_cast<unsigned>(address));
    std::string line(text, static_cast<std::size_t>(n));
    for (int i = 0; i < 16; ++i) {
        std::snprintf(text, sizeof text, " %02X", static_cast<unsigned>(row[i]));
        line += text;
    }
    return line;
}

// What a run over text must do: its result, its log lines and its write requests in order.
Expectation Expect(const std::string& text, bool enabled) {
    Expectation e;
    e.Lines = CountLines(text);
    std::size_t pos = 0;
    bool bad = false;
    auto byte = [&]() -> std::uint8_t {
        if (bad || pos + 2 > text.size()) {
            bad = true;
            return 0;
        }
        int hi = Digit(text[pos]);
        int lo = Digit(text[pos + 1]);
        pos += 2;
        if (hi < 0 || lo < 0) {
            bad = true;
            return 0;
        }
        return static_cast<std::uint8_t>(hi * 16 + lo);
    };
    std::uint32_t upper = 0;
    std::int32_t records = 0;
    std::uint8_t type = 0;
    while (type != 0x01 && records < e.Lines) {
        pos = text.find(':', pos);
        if (pos == std::string::npos) {
            break;
        }
        ++pos;
        const std::uint8_t count = byte();
        const std::uint8_t offsetHigh = byte();
        const std::uint8_t offsetLow = byte();
        type = byte();
        unsigned sum = count + offsetHigh + offsetLow + type;
        std::vector<std::uint8_t> data;
        for (unsigned i = 0; i < count && !bad; ++i) {
            data.push_back(byte());
            sum += data.back();
        }
        sum += byte();
        const unsigned start = offsetLow & 0xFu;
        if (bad || (sum & 0xFF) != 0 || type > 0x05 || start + count > 32) {
            e.Result = -1020;
            return e;
        }
        // Address records the programmer would misread.
        const bool segmentZero = count == 2 && data[0] == 0 && data[1] == 0;
        if ((type == 0x04 && (count != 2 || start != 0)) || (type == 0x02 && !segmentZero)) {
            e.Result = -1020;
            return e;
        }
        std::uint8_t buffer[32];
        std::fill(std::begin(buffer), std::end(buffer), std::uint8_t{0xFF});
        std::copy(data.begin(), data.end(), buffer + start);
        if (type == 0x04) {
            upper = static_cast<std::uint32_t>(buffer[0] << 8 | buffer[1]);
        }
        const bool program = upper <= 0x1F;
        const bool eeprom = upper == 0xF0;
        if (type == 0x00 && (program || eeprom || upper == 0x20 || upper == 0x30)) {
            const std::uint32_t rowOffset = (offsetHigh << 8 | offsetLow) & 0xFFF0u;
            const std::uint32_t base = eeprom ? rowOffset : upper << 16 | rowOffset;
            if (program && base < 0x200) {
                e.Result = -1010;
                return e;
            }
            if (enabled && eeprom && count > 0 && rowOffset + start + count - 1 > 0xFF) {
                e.Result = -1011;
                return e;
            }
            for (unsigned r = 0; enabled && r < (start + count > 16 ? 2u : 1u); ++r) {
                const std::uint8_t* row = buffer + 16 * r;
                const std::uint32_t address = base + 16 * r;
                // Supplied positions of this row, from..to (exclusive).
                const unsigned from = std::max(start, 16 * r) - 16 * r;
                const unsigned to = std::min(start + count, 16 * r + 16) - 16 * r;
                if (!eeprom) {
                    e.Writes.push_back({0x02, address, {row, row + 16}, e.LogLines.size()});
                } else if (from < to) {
                    e.Writes.push_back(
                        {0x05, address + from, {row + from, row + to}, e.LogLines.size()});
                } else {
                    continue;
                }
                e.LogLines.push_back(LogLine(address, row));
            }
        }
        ++records;
    }
    // A record still ahead of a pass that stopped at the line count is refused.
    const bool recordAhead = pos != std::string::npos && text.find(':', pos) != std::string::npos;
    e.Result = type != 0x01 && recordAhead ? -1020 : records;
    return e;
}

std::vector<std::string> ReadLog() {
    std::ifstream log(ProgramLogName);
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    return lines;
}

void RunOnce(const std::string& text, bool enabled) {
    TargetProfile.ProgramEnable = enabled;
    TargetProfile.EepromEnable = enabled;
    TargetProfile.IdEnable = enabled;
    TargetProfile.ConfigEnable = enabled;
    auto port = std::make_shared<BoardPort>();
    TargetProfile.PortHandle = AttachPortDevice(port);
    const std::int32_t result = ProgramHexFile(InputName, 8, 1, 2);
    CloseComPort(TargetProfile.PortHandle);
    TargetProfile.PortHandle = InvalidComHandle;

    const Board& board = port->TheBoard();
    FuzzRequire(board.Stats().Violations == 0, "no request touches the boot block");
    for (std::uint32_t a = 0; a < 0x200; ++a) {
        FuzzRequire(board.ReadProgramSpace(a) == Board::BootBlockByte(a), "boot block unchanged");
    }

    std::vector<Write> writes;
    for (const auto& request : port->Requests()) {
        FuzzRequire(request.size() >= 5, "requests carry a header");
        const std::uint8_t command = request[0];
        FuzzRequire(command == 1 || command == 2 || command == 4 || command == 5,
                    "only row writes and read-backs are sent");
        const auto address =
            static_cast<std::uint32_t>(request[2] | request[3] << 8 | request[4] << 16);
        if (command == 2 || command == 5) {
            writes.push_back({command, address, {request.begin() + 5, request.end()}, 0});
        }
    }

    const Expectation e = Expect(text, enabled);
    FuzzRequire(ProgressTotal == e.Lines, "progress total is the line count");
    // What the check before the erase lets through, the board takes in full. The sizes of the
    // ID locations and the configuration are the board's own, which the check does not know.
    const HexCheck check = CheckHexFile(InputName, HexRowSettingsFromProfile(1));
    const bool idOrConfig = std::any_of(check.Rows.begin(), check.Rows.end(), [](const auto& row) {
        return row.Space == HexSpace::Id || row.Space == HexSpace::Config;
    });
    if (check.Fault == HexFault::None && !idOrConfig) {
        FuzzRequire(result == e.Result && result >= 0, "a file the check accepts is written");
    }
    if (result == e.Result) {
        FuzzRequire(writes == e.Writes, "the writes are those of the file's valid records");
        FuzzRequire(ReadLog() == e.LogLines, "temp.log holds exactly the rows sent");
        return;
    }
    // The board may refuse a row (memory it does not have: no reply) or read back another value
    // (flash keeps the cleared bits of an earlier record): the run then stops early.
    FuzzRequire(result == -5 || result == -12, "result as the file gives it, or a board refusal");
    if (result == -5) {
        // The refused request went out once per attempt.
        while (writes.size() > 1 && writes.back() == writes[writes.size() - 2]) {
            writes.pop_back();
        }
    }
    FuzzRequire(!writes.empty() && writes.size() <= e.Writes.size(), "a failed run sent a row");
    FuzzRequire(std::equal(writes.begin(), writes.end(), e.Writes.begin()),
                "the writes are a prefix of those of the file's valid records");
    const std::size_t rows = e.Writes[writes.size() - 1].Row + 1;
    const std::vector<std::string> expected(e.LogLines.begin(),
                                            e.LogLines.begin() + static_cast<long>(rows));
    FuzzRequire(ReadLog() == expected, "temp.log holds exactly the rows sent");
}

// temp.log and the input file go to a folder of this process's own, removed when it ends.
std::filesystem::path PrivateFolder;

void RemovePrivateFolder() {
    std::error_code ignored;
    std::filesystem::current_path(std::filesystem::temp_directory_path(ignored), ignored);
    std::filesystem::remove_all(PrivateFolder, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/tervix-fuzz-XXXXXX";
    if (::mkdtemp(folder) == nullptr || ::chdir(folder) != 0) {
        std::perror("fuzz_program_hex: private folder");
        std::abort();
    }
    PrivateFolder = folder;
    std::atexit(RemovePrivateFolder);
    LoadDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream input(InputName, std::ios::binary | std::ios::trunc);
        input << text;
    }
    RunOnce(text, true);
    RunOnce(text, false);
    return 0;
}
