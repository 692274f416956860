#include "target/HexRecord.h"
#include "target/CFile.h"
#include "target/HexFileReader.h"
#include "target/HexWriter.h"
#include "tests/support/CaseName.h"
#include "tests/support/TempFolder.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// An in-memory text file holding the given content.
CFile TextFile(const std::string& text) {
    CFile f(std::tmpfile());
    std::fputs(text.c_str(), f.get());
    std::rewind(f.get());
    return f;
}

struct Outcome {
    std::vector<HexStatus> statuses;
    std::vector<HexRecord> records;
};

Outcome ReadAll(const std::string& text) {
    CFile f = TextFile(text);
    HexRecordReader reader(f.get());
    Outcome out;
    for (;;) {
        HexRecord record;
        HexStatus status = reader.Next(record);
        out.statuses.push_back(status);
        if (status != HexStatus::Record) {
            return out;
        }
        out.records.push_back(record);
    }
}

TEST(HexRecordReader, DecodesFieldsInEitherCaseAndSkipsTextBetweenRecords) {
    Outcome out = ReadAll("junk line\r\n\n  :10020000000102030405060708090a0b0C0D0E0F76\r\n"
                          "; comment\n:00000001ff\n");
    ASSERT_EQ(out.records.size(), 2u);
    const HexRecord& data = out.records[0];
    EXPECT_EQ(data.Count, 16);
    EXPECT_EQ(data.Offset, 0x0200);
    EXPECT_EQ(data.Type, HexType::Data);
    EXPECT_EQ(data.Line, 3u);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(data.Data[i], i);
    }
    EXPECT_EQ(out.records[1].Type, HexType::EndOfFile);
    EXPECT_EQ(out.records[1].Line, 5u);
    EXPECT_EQ(out.statuses.back(), HexStatus::NoMoreInput);

    // A lone CR ends a line as well.
    EXPECT_EQ(ReadAll("x\r\r\n:00000001FF\r").records.at(0).Line, 3u);
}

TEST(HexRecordReader, ReportsEachKindOfBrokenRecord) {
    struct Case {
        const char* text;
        HexStatus expected;
    };
    const Case cases[] = {
        {":0100000000FE\n", HexStatus::BadChecksum},
        {":01000000G0FF\n", HexStatus::BadDigit},
        // A line end inside a field is not a digit: records do not span lines.
        {":0100\n000000FF\n", HexStatus::BadDigit},
        {":10020000000102", HexStatus::Truncated},
        {":", HexStatus::Truncated},
        {"", HexStatus::NoMoreInput},
        {"no records at all\n", HexStatus::NoMoreInput},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadAll(c.text).statuses.back(), c.expected) << c.text;
    }
}

TEST(HexRecordReader, FullLengthRecordIsAccepted) {
    // The writer never makes a record this long (it splits rows), so build it by hand.
    std::vector<std::uint8_t> bytes(255, 0xA5);
    std::string line = ":FF000000";
    unsigned sum = 0xFF;
    for (std::uint8_t b : bytes) {
        line += "A5";
        sum += b;
    }
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    line += checksum;
    Outcome out = ReadAll(line + "\n");
    ASSERT_EQ(out.records.size(), 1u);
    EXPECT_EQ(out.records[0].Count, 255);
    EXPECT_EQ(out.records[0].Data[254], 0xA5);
}

// A decoded record as the tests below name it.
struct Step {
    std::uint32_t line;
    std::uint8_t type;
    std::uint16_t upper;
    HexSpace space;
    HexDefect defect = HexDefect::None;
    HexStatus status = HexStatus::Record;
    std::int32_t code = 0;
    bool operator==(const Step&) const = default;
};

void PrintTo(const Step& s, std::ostream* os) {
    *os << "line " << s.line << " type " << int{s.type} << " upper " << s.upper << " space "
        << int(s.space) << " defect " << int(s.defect) << " status " << int(s.status) << " code "
        << s.code;
}

struct PassCase {
    std::string name;
    std::string text;
    HexPass pass;
    std::vector<Step> steps;
    std::int32_t records;
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.name;
}

class HexFilePass : public testing::TestWithParam<PassCase> {};

TEST_P(HexFilePass, YieldsEachRecordUntilThePassEnds) {
    const PassCase& c = GetParam();
    TempFolder folder;
    HexFileReader hex(folder.Create("a.hex", c.text).c_str(), HexRowSettings{}, c.pass);
    std::vector<Step> steps;
    DecodedRecord r;
    while (hex.Next(r)) {
        steps.push_back(
            {r.Record.Line, r.Record.Type, r.Upper, r.Plan.Space, r.Defect, r.Status, r.Code});
    }
    EXPECT_EQ(steps, c.steps);
    EXPECT_EQ(hex.Records(), c.records);
    EXPECT_FALSE(hex.Next(r)) << "a pass that is over stays over";
}

constexpr std::uint8_t D = HexType::Data;
constexpr std::uint8_t E = HexType::EndOfFile;
constexpr std::uint8_t L = HexType::ExtendedLinear;
constexpr HexSpace P = HexSpace::Program;
constexpr HexSpace N = HexSpace::None;

const std::string Row200 = HexLine(D, 0x0200, {1});
const std::string ToEeprom = HexLine(L, 0, {0x00, 0xF0});
// Two records on one line, and a third on the next: three records, two lines.
const std::string Crowded = Row200.substr(0, Row200.size() - 1) + Row200 + Row200;

INSTANTIATE_TEST_SUITE_P(
    Passes, HexFilePass,
    testing::Values(
        // A record carries the upper address in force when it was read; its plan the new one.
        PassCase{"UpperAddressInForce",
                 Row200 + ToEeprom + HexLine(D, 0x0010, {2}) + HexEnd,
                 HexPass::Programmer,
                 {{1, D, 0, P}, {2, L, 0, N}, {3, D, 0xF0, HexSpace::Eeprom}, {4, E, 0xF0, N}},
                 4},
        PassCase{"RecordPastTheLineCount",
                 Crowded,
                 HexPass::Programmer,
                 {{1, D, 0, P},
                  {1, D, 0, P},
                  {2, 0, 0, N, HexDefect::PastLineCount, HexStatus::Record, -1020}},
                 2},
        PassCase{"WholeFileReadsPastTheLineCount",
                 Crowded,
                 HexPass::WholeFile,
                 {{1, D, 0, P}, {1, D, 0, P}, {2, D, 0, P}},
                 3},
        // The end-of-file record closes the pass also where it meets the line count.
        PassCase{"EndOfFileAtTheLineCount",
                 ":00000001FF" + Row200,
                 HexPass::Programmer,
                 {{1, E, 0, N}},
                 1},
        PassCase{"NothingAfterEndOfFile", HexEnd + Row200, HexPass::WholeFile, {{1, E, 0, N}}, 1},
        PassCase{"BadTextEndsThePass",
                 Row200 + ":0100000000FE\n" + Row200,
                 HexPass::WholeFile,
                 {{1, D, 0, P}, {2, D, 0, N, HexDefect::Text, HexStatus::BadChecksum, -1020}},
                 1},
        PassCase{"BadContentEndsThePass",
                 ToEeprom + HexLine(L, 0, {0x00, 0x00}) + HexLine(D, 0x01F8, {1}) + Row200,
                 HexPass::Programmer,
                 {{1, L, 0, N},
                  {2, L, 0xF0, N},
                  {3, D, 0, P, HexDefect::Content, HexStatus::Record, -1010}},
                 2}),
    CaseName());

TEST(HexWriter, SplitsAtRowBoundariesAndRoundTripsThroughTheReader) {
    std::vector<std::uint8_t> program(40);
    for (std::size_t i = 0; i < program.size(); ++i) {
        program[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::uint8_t eeprom[3] = {0x04, 0x05, 0x0F};
    HexWriter writer;
    writer.Add(0x0208, program.data(), program.size());
    writer.Add(0xF000FE, eeprom, 2);
    writer.Add(0xF00100, eeprom + 2, 1);
    Outcome out = ReadAll(writer.Finish());

    ASSERT_EQ(out.statuses.back(), HexStatus::NoMoreInput);
    std::vector<std::uint32_t> addresses;
    std::uint32_t upper = 0;
    std::vector<std::uint8_t> rebuilt;
    for (const HexRecord& r : out.records) {
        if (r.Type == HexType::ExtendedLinear) {
            upper = static_cast<std::uint32_t>(r.Data[0] << 8 | r.Data[1]);
        } else if (r.Type == HexType::Data) {
            std::uint32_t address = upper << 16 | r.Offset;
            addresses.push_back(address);
            EXPECT_LE((address & 0xF) + r.Count, 16u) << "record crosses a row";
            if (upper == 0) {
                rebuilt.insert(rebuilt.end(), r.Data, r.Data + r.Count);
            }
        }
    }
    EXPECT_EQ(rebuilt, program);
    const std::vector<std::uint32_t> expected = {0x0208, 0x0210, 0x0220, 0xF000FE, 0xF00100};
    EXPECT_EQ(addresses, expected);
    EXPECT_EQ(out.records.back().Type, HexType::EndOfFile);
}

TEST(CountHexLines, CountsLineReadsOfAtMost255Characters) {
    char dir[] = "/tmp/tervix-hexlines-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/lines.hex";
    auto write = [&](const std::string& text) {
        CFile f(std::fopen(path.c_str(), "w"));
        std::fputs(text.c_str(), f.get());
    };
    write("");
    EXPECT_EQ(CountHexLines(path.c_str()), 0);
    write("a\nb\n\nlast without end");
    EXPECT_EQ(CountHexLines(path.c_str()), 4);
    write(std::string(300, 'x') + "\n");
    EXPECT_EQ(CountHexLines(path.c_str()), 2);
    write("a\rb\r\nc\n\rd\r");
    EXPECT_EQ(CountHexLines(path.c_str()), 5);
    EXPECT_EQ(CountHexLines((std::string(dir) + "/missing.hex").c_str()), -1);
    std::remove(path.c_str());
    rmdir(dir);
}

} // namespace
