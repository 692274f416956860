// The programmer against hostile HEX files: every file gives its defined result, and no request
// leaves that the file's rules forbid (a row of a refused record, a row below 0x200, an EEPROM
// row past the EEPROM). Run against the simulated board with every memory space enabled and
// with them disabled.

#include "link/BootCommands.h"
#include "sim/Board.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"
#include "tests/support/CaseName.h"
#include "tests/support/MemoryPort.h"
#include "tests/support/WorkingFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Row {
    std::uint8_t Command;
    std::uint32_t Address;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << "command " << int{row.Command} << " at 0x" << std::hex << row.Address;
}

fs::path Corpus(const char* name) {
    return fs::path(TERVIX_HOSTILE_CORPUS) / name;
}

// One run of the programmer over a file, against a fresh board in the current folder.
struct Outcome {
    std::int32_t Result = 0;
    std::vector<Row> Writes;
    std::vector<Bytes> WriteData;
    std::vector<std::uint32_t> LogAddresses;
    std::shared_ptr<Board> TheBoard = std::make_shared<Board>();
};

Outcome Program(const fs::path& file, bool enabled) {
    LoadDefaults();
    TargetProfile.ProgramEnable = enabled;
    TargetProfile.EepromEnable = enabled;
    TargetProfile.IdEnable = enabled;
    TargetProfile.ConfigEnable = enabled;

    Outcome out;
    AttachedPort port = AttachMemoryPort(50);
    port.port->SetResponder([board = out.TheBoard](const Bytes& request) {
        auto reply = board->Execute(request.data(), request.size());
        return reply ? Frame(*reply) : Bytes{};
    });
    TargetProfile.PortHandle = port.handle;
    out.Result = ProgramHexFile(file.c_str(), 8, 1, BootCode::WriteProgram);
    CloseComPort(port.handle);
    TargetProfile.PortHandle = InvalidComHandle;

    for (const Bytes& request : port.port->Requests()) {
        if (request.size() >= 5 && request[0] != BootCode::ReadProgram &&
            request[0] != BootCode::ReadEeprom) {
            out.Writes.push_back(
                {request[0],
                 static_cast<std::uint32_t>(request[2] | request[3] << 8 | request[4] << 16)});
            out.WriteData.emplace_back(request.begin() + 5, request.end());
        }
    }
    // A planted link stays as it was; what it points to is not the run's log.
    std::ifstream log(fs::is_symlink(ProgramLogName) ? fs::path() : fs::path(ProgramLogName));
    for (std::string line; std::getline(log, line);) {
        out.LogAddresses.push_back(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
    }
    return out;
}

void ExpectBootBlockIntact(const Board& board) {
    EXPECT_EQ(board.Stats().Violations, 0u);
    for (std::uint32_t a = 0; a < BoardMap::BootBlockEnd; ++a) {
        ASSERT_EQ(board.ReadProgramSpace(a), Board::BootBlockByte(a)) << "boot block at " << a;
    }
}

constexpr Row P(std::uint32_t address) {
    return {BootCode::WriteProgram, address};
}
constexpr Row E(std::uint32_t address) {
    return {BootCode::WriteEeprom, address};
}

struct HostileCase {
    std::string name;
    const char* file;
    std::int32_t result;         // every space enabled
    std::int32_t disabledResult; // every space disabled: nothing may be sent
    std::vector<Row> writes;     // in order, every space enabled
};

class HostileFile : public testing::TestWithParam<HostileCase> {
protected:
    WorkingFolder folder_;
};

TEST_P(HostileFile, GivesItsResultAndSendsOnlyPermittedRows) {
    const HostileCase& c = GetParam();

    Outcome on = Program(Corpus(c.file), true);
    EXPECT_EQ(on.Result, c.result);
    EXPECT_EQ(on.Writes, c.writes);
    ExpectBootBlockIntact(*on.TheBoard);
    // One log line per row sent, at the row's address (an EEPROM row may go out in parts).
    std::vector<std::uint32_t> rowsSent;
    for (const Row& w : on.Writes) {
        const std::uint32_t row = w.Address & ~0xFu;
        if (rowsSent.empty() || rowsSent.back() != row) {
            rowsSent.push_back(row);
        }
    }
    EXPECT_EQ(on.LogAddresses, rowsSent);

    Outcome off = Program(Corpus(c.file), false);
    EXPECT_EQ(off.Result, c.disabledResult);
    EXPECT_TRUE(off.Writes.empty());
    EXPECT_TRUE(off.LogAddresses.empty());
    ExpectBootBlockIntact(*off.TheBoard);
}

// Results with the fixes decided for the programmer: any malformed record, and a record type
// that Intel HEX does not have, stops the run with -1020 before anything of it is sent.
INSTANTIATE_TEST_SUITE_P(
    Corpus, HostileFile,
    testing::Values(
        HostileCase{"LfLineEnds", "good_lf.hex", 6, 6, {P(0x200), P(0x210), P(0x220), E(0x10)}},
        HostileCase{"CrLfLineEnds", "good_crlf.hex", 6, 6, {P(0x200), P(0x210), P(0x220), E(0x10)}},
        HostileCase{"CrOnlyLineEnds", "cr_only.hex", 6, 6, {P(0x200), P(0x210), P(0x220), E(0x10)}},
        // Four records on two lines and the end record: the records past the line count would be
        // left off the chip.
        HostileCase{
            "TwoRecordsPerLine", "two_per_line.hex", -1020, -1020, {P(0x200), P(0x210), P(0x220)}},
        HostileCase{"EmptyExtendedLinearAddress", "empty_type_04.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"NonZeroSegment", "segment_02.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"DataOnlyInIdAndConfiguration",
                    "disabled_spaces_only.hex",
                    5,
                    5,
                    {P(0x200000), P(0x300000)}},
        HostileCase{"BadChecksum", "bad_checksum.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"NonHexCharacter", "non_hex_digit.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"RecordCutShort", "cut_short.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"RecordType06", "type_06.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"RecordTypeFF", "type_ff.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"RowPastBuffer", "row_overflow.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"LongRecordPastBuffer", "long_record.hex", -1020, -1020, {P(0x200)}},
        HostileCase{"ProgramRowBelow0x200", "below_boot_block.hex", -1010, -1010, {P(0x200)}},
        HostileCase{"EepromRowPastEnd", "eeprom_past_end.hex", -1011, 5, {P(0x200), E(0xF0)}},
        HostileCase{"LinesLongerThan255", "long_line.hex", 3, 3, {P(0x200), P(0x210)}},
        HostileCase{"BinaryJunk", "binary_junk.bin", 0, 0, {}},
        HostileCase{"BinaryJunkWithColon", "binary_junk_colon.bin", -1020, -1020, {}},
        HostileCase{"EmptyFile", "empty.hex", 0, 0, {}},
        HostileCase{"NoEndOfFileRecord", "no_eof.hex", 2, 2, {P(0x200), P(0x210)}},
        HostileCase{"RecordsAfterEndOfFile", "after_eof.hex", 2, 2, {P(0x200)}},
        // Refused by the check before any erase; the programmer alone writes what it can. A
        // program row without bytes is padding only; an EEPROM row without bytes is not sent.
        HostileCase{"OnlyARecordOfNoBytes", "zero_count_only.hex", 2, 2, {P(0x300)}},
        HostileCase{"EmptyEepromRecordBesideData", "empty_eeprom_record.hex", 4, 4, {P(0x200)}},
        // The board has nothing at 0x8000 and 0x10000: the read-back differs.
        HostileCase{"PastTheEndOfProgramMemory",
                    "past_program_end.hex",
                    -12,
                    3,
                    {P(0x200), P(0x7FF0), P(0x8000)}},
        HostileCase{
            "PastTheEndThroughAnUpperAddress", "past_64k.hex", -12, 4, {P(0x200), P(0x10000)}}),
    CaseName{});

class HostileFileContent : public testing::Test {
protected:
    WorkingFolder folder_;
};

TEST_F(HostileFileContent, LineEndsDoNotChangeWhatReachesTheBoard) {
    Outcome lf = Program(Corpus("good_lf.hex"), true);
    Outcome crlf = Program(Corpus("good_crlf.hex"), true);
    Outcome cr = Program(Corpus("cr_only.hex"), true);
    ASSERT_EQ(lf.Result, 6);
    EXPECT_EQ(crlf.WriteData, lf.WriteData);
    EXPECT_EQ(cr.WriteData, lf.WriteData);
    for (std::uint8_t i = 0; i < 16; ++i) {
        EXPECT_EQ(crlf.TheBoard->ReadProgramSpace(0x200u + i), i);
        EXPECT_EQ(crlf.TheBoard->ReadProgramSpace(0x218u + i), 0xA0 + i);
    }
    for (std::uint8_t i = 0; i < 4; ++i) {
        EXPECT_EQ(crlf.TheBoard->ReadEeprom(0x10u + i), i + 1);
    }
    EXPECT_EQ(crlf.TheBoard->ReadProgramSpace(0x210), 0xFF);
}

TEST_F(HostileFileContent, EmptyFileSendsNothingAndLeavesAnEmptyLog) {
    Outcome out = Program(Corpus("empty.hex"), true);
    EXPECT_EQ(out.Result, 0);
    EXPECT_EQ(ProgressTotal, 0);
    ASSERT_TRUE(fs::exists(ProgramLogName));
    EXPECT_EQ(fs::file_size(ProgramLogName), 0u);
}

// A huge file costs time in proportion to its size, but holds no more in memory than a line.
TEST_F(HostileFileContent, FiftyMegabyteFileIsReadToTheEnd) {
    const fs::path big = folder_.Path() / "big.hex";
    std::int32_t lines = 0;
    {
        std::ofstream out(big, std::ios::binary);
        const std::string filler = "; " + std::string(97, '-') + "\n";
        for (std::size_t written = 0; written < 50u << 20; written += filler.size()) {
            out << filler;
            ++lines;
        }
        out << ":10020000000102030405060708090A0B0C0D0E0F76\n:00000001FF\n";
        lines += 2;
    }
    Outcome out = Program(big, true);
    EXPECT_EQ(out.Result, 2);
    EXPECT_EQ(ProgressTotal, lines);
    EXPECT_EQ(out.Writes, std::vector<Row>{P(0x200)});
}

// "temp.log" is created where the program runs; a link planted there in its name must not lead
// the run to overwrite the file it points to. The run fails as when the log cannot be created.
TEST_F(HostileFileContent, PlantedLogLinkIsRefused) {
    const fs::path victim = folder_.Path() / "victim.txt";
    std::ofstream(victim) << "precious\n";
    fs::create_symlink(victim, ProgramLogName);

    Outcome out = Program(Corpus("good_lf.hex"), true);
    EXPECT_EQ(out.Result, -1);
    EXPECT_TRUE(out.Writes.empty());
    std::ifstream in(victim);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "precious\n");
    EXPECT_TRUE(fs::is_symlink(ProgramLogName));
}

} // namespace
