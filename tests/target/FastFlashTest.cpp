#include "target/FastFlash.h"
#include "link/BootCommands.h"
#include "target/HexProgrammer.h"
#include "target/HexRecord.h"
#include "target/TargetProfile.h"
#include "tests/support/CaseName.h"
#include "tests/target/TargetFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using Image = std::map<std::uint32_t, std::uint8_t>;

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t from) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(from + i * 7);
    }
    return v;
}

// A HEX file and the bytes it puts into program memory and EEPROM.
struct HexFile {
    std::string Text;
    Image Program;
    Image Eeprom;
    bool InEeprom = false;

    HexFile& Data(std::uint16_t offset, const std::vector<std::uint8_t>& bytes) {
        Text += HexLine(HexType::Data, offset, bytes);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            (InEeprom ? Eeprom : Program)[offset + static_cast<std::uint32_t>(i)] = bytes[i];
        }
        return *this;
    }
    HexFile& ToEeprom() {
        Text += HexLine(HexType::ExtendedLinear, 0, {0x00, 0xF0});
        InEeprom = true;
        return *this;
    }
};

struct ImageCase {
    std::string name;
    HexFile file;
    // Requests of the write commands, and lines of the log: one per 16-byte row a write carried.
    std::uint64_t programWrites;
    std::uint64_t eepromWrites;
    std::size_t logLines;
};

// 16-byte records from first up to end.
HexFile Filled(std::uint32_t first, std::uint32_t end) {
    HexFile f;
    for (std::uint32_t a = first; a < end; a += 16) {
        f.Data(static_cast<std::uint16_t>(a), Pattern(16, static_cast<std::uint8_t>(a >> 4)));
    }
    return f;
}

// One 16-byte record per row from first to the end of program memory.
HexFile UpToTheTop(std::uint32_t first) {
    return Filled(first, 0x8000);
}

std::vector<ImageCase> Cases() {
    return {
        // Records share rows and blocks and come out of order; the run at 0x300 is one write.
        {"RowsSharedBetweenRecords",
         HexFile()
             .Data(0x0308, Pattern(12, 0xB0))
             .Data(0x0300, Pattern(4, 0xA0))
             .Data(0x0304, Pattern(4, 0x10))
             .Data(0x0318, Pattern(16, 0x20)),
         1, 0, 3},
        // Consecutive EEPROM bytes go in one write, a gap starts another; a record of no bytes
        // adds nothing.
        {"Eeprom",
         HexFile()
             .Data(0x0400, Pattern(8, 1))
             .ToEeprom()
             .Data(0x0010, Pattern(3, 0x11))
             .Data(0x0014, Pattern(2, 0x31))
             .Data(0x0013, {0x99})
             .Data(0x0030, {})
             .Data(0x0040, Pattern(16, 0x41))
             .Data(0x0050, Pattern(2, 0x51)),
         1, 2, 4},
        // 100 consecutive EEPROM bytes: 64 in the first write, the rest in a second.
        {"LongEepromRun",
         HexFile()
             .ToEeprom()
             .Data(0x0000, Pattern(32, 1))
             .Data(0x0020, Pattern(32, 2))
             .Data(0x0040, Pattern(32, 3))
             .Data(0x0060, Pattern(4, 4)),
         0, 2, 7},
        // A block of 0xFF left by the erase is only read back: the writes go round it.
        {"BlankRowsAreNotWritten",
         HexFile()
             .Data(0x0600, Pattern(8, 1))
             .Data(0x0608, std::vector<std::uint8_t>(16, 0xFF))
             .Data(0x0618, Pattern(8, 2))
             .Data(0x0700, std::vector<std::uint8_t>(32, 0xFF)),
         2, 0, 2},
        // The last rows of program memory, in requests of at most 128 bytes.
        {"TopOfProgramMemory", UpToTheTop(0x7F00), 2, 0, 16},
        {"WholeApplicationArea", UpToTheTop(0x200), 252, 0, 2016},
    };
}

class FastFlashTest : public BoardTest, public testing::WithParamInterface<ImageCase> {};

// The board starts with an old application everywhere, so that only the erase can explain a
// blank block reading back 0xFF.
TEST_P(FastFlashTest, BoardHoldsTheFile) {
    const ImageCase& c = GetParam();
    board_->WithBoard([](Board& b) {
        for (std::uint32_t a = 0x200; a < 0x8000; ++a) {
            b.LoadProgramSpace(a, 0x5A);
        }
        for (std::uint32_t a = 0; a < 0x100; ++a) {
            b.LoadEeprom(a, 0x5A);
        }
    });
    const std::string path = folder_->Create("image.hex", c.file.Text + HexEnd);
    FlashImage image;
    const HexRowSettings settings = HexRowSettingsFromProfile(TargetProfile.AddressUnit);
    const std::int32_t records = BuildFlashImage(path.c_str(), settings, image);
    ASSERT_GT(records, 0);
    ASSERT_GE(EraseForFastFlash(path.c_str()), 0);
    EXPECT_EQ(ProgressCount, 0x8000);
    ImageFailure failure;
    ASSERT_EQ(ProgramImageFast(image, failure), records);
    EXPECT_EQ(ProgressCount, records);
    EXPECT_EQ(ProgressTotal, image.Lines);

    for (std::uint32_t a = 0x200; a < 0x8000; ++a) {
        const auto it = c.file.Program.find(a);
        ASSERT_EQ(Program(a), it == c.file.Program.end() ? 0xFF : it->second) << std::hex << a;
    }
    for (std::uint32_t a = 0; a < 0x100; ++a) {
        const auto it = c.file.Eeprom.find(a);
        ASSERT_EQ(Eeprom(a), it == c.file.Eeprom.end() ? 0x5A : it->second) << std::hex << a;
    }
    EXPECT_EQ(Requests(BootCode::EraseProgram), 16u);
    EXPECT_EQ(Requests(BootCode::WriteProgram), c.programWrites);
    EXPECT_EQ(Requests(BootCode::WriteEeprom), c.eepromWrites);
    const std::string log = folder_->Read(ProgramLogName);
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), c.logLines);
    EXPECT_EQ(board_->Stats().Malformed, 0u);
    EXPECT_EQ(board_->Stats().Violations, 0u);
}

INSTANTIATE_TEST_SUITE_P(Images, FastFlashTest, testing::ValuesIn(Cases()), CaseName());

TEST_F(BoardTest, FastLogShowsEachWrittenRowOnceWithItsPadding) {
    const std::string path = folder_->Create(
        "a.hex",
        HexFile().Data(0x0208, Pattern(16, 0x10)).ToEeprom().Data(0x0011, {0xAB, 0xCD}).Text +
            HexEnd);
    FlashImage image;
    ASSERT_EQ(BuildFlashImage(path.c_str(), HexRowSettingsFromProfile(1), image), 4);
    ImageFailure failure;
    ASSERT_EQ(ProgramImageFast(image, failure), 4);
    EXPECT_EQ(folder_->Read(ProgramLogName),
              " 0200  FF FF FF FF FF FF FF FF 10 17 1E 25 2C 33 3A 41\n"
              " 0210  48 4F 56 5D 64 6B 72 79 FF FF FF FF FF FF FF FF\n"
              " 0010  FF AB CD FF FF FF FF FF FF FF FF FF FF FF FF FF\n");
}

TEST_F(BoardTest, FastImageRefusesRecordsThatDisagree) {
    FlashImage image;
    const HexRowSettings settings = HexRowSettingsFromProfile(1);
    // The same byte twice is no conflict.
    std::string agree =
        folder_->Create("agree.hex", HexLine(HexType::Data, 0x0300, {1, 2, 3}) +
                                         HexLine(HexType::Data, 0x0302, {3, 4}) + HexEnd);
    EXPECT_EQ(BuildFlashImage(agree.c_str(), settings, image), 3);
    EXPECT_EQ(image.Flash.size(), 4u);

    std::string clash =
        folder_->Create("clash.hex", HexLine(HexType::Data, 0x0300, {1, 2, 3}) + "\n" +
                                         HexLine(HexType::ExtendedLinear, 0, {0x00, 0xF0}) +
                                         HexLine(HexType::Data, 0x0001, {9}) +
                                         HexLine(HexType::ExtendedLinear, 0, {0x00, 0x00}) +
                                         HexLine(HexType::Data, 0x0301, {2, 7}) + HexEnd);
    EXPECT_EQ(BuildFlashImage(clash.c_str(), settings, image), ImageResult::Conflict);
    EXPECT_EQ(image.EarlierLine, 1u);
    EXPECT_EQ(image.ErrorLine, 6u);
    EXPECT_EQ(image.ConflictAddress, 0x302u);
    EXPECT_EQ(image.ConflictSpace, HexSpace::Program);
}

// The programmer reads no more records than the file has lines and refuses a file with one
// still ahead; an image of the records before it would leave that one off the board.
TEST_F(BoardTest, FastImageRefusesARecordPastTheLineCount) {
    const std::string row = HexLine(HexType::Data, 0x0300, {1, 2, 3});
    const std::string path =
        folder_->Create("crowded.hex", row.substr(0, row.size() - 1) + row + row + HexEnd);
    FlashImage image;
    EXPECT_EQ(BuildFlashImage(path.c_str(), HexRowSettingsFromProfile(1), image),
              ProgramResult::BadRecord);
    EXPECT_EQ(image.ErrorLine, 3u);
}

// A byte that reads back other than the file's stops the run, wherever it lies in a read span,
// also in a blank block that is only read back: an erase that left old bytes there must not pass.
struct StuckCase {
    std::string name;
    HexFile file;
    std::uint32_t stuck;
};

void PrintTo(const StuckCase& c, std::ostream* os) {
    *os << c.name;
}

class FastVerify : public BoardTest, public testing::WithParamInterface<StuckCase> {};

TEST_P(FastVerify, NamesTheStuckByte) {
    const StuckCase& c = GetParam();
    const std::string path = folder_->Create("a.hex", c.file.Text + HexEnd);
    FlashImage image;
    ASSERT_GT(BuildFlashImage(path.c_str(), HexRowSettingsFromProfile(1), image), 0);
    const std::uint8_t wrong = static_cast<std::uint8_t>(c.file.Program.at(c.stuck) ^ 0x5A);
    board_->WithBoard([&](Board& b) { b.SetStuckByte(c.stuck, wrong); });
    ImageFailure failure;
    EXPECT_EQ(ProgramImageFast(image, failure), BootResult::VerifyMismatch);
    EXPECT_EQ(failure.Space, HexSpace::Program);
    EXPECT_EQ(failure.Address, c.stuck);
    // The span is read back twice before the run gives up; the spans before it once.
    EXPECT_EQ(Requests(BootCode::ReadProgram), (c.stuck - 0x200) / 128 + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Stuck, FastVerify,
    testing::Values(StuckCase{"InAWrittenRow", HexFile().Data(0x0200, Pattern(32, 1)), 0x211},
                    StuckCase{"InABlankBlock",
                              HexFile()
                                  .Data(0x0200, Pattern(8, 1))
                                  .Data(0x0208, std::vector<std::uint8_t>(16, 0xFF))
                                  .Data(0x0218, Pattern(8, 2)),
                              0x0210},
                    StuckCase{"LastOfAFullSpan", Filled(0x0200, 0x0300), 0x027F},
                    StuckCase{"LastOfTheLastSpan", Filled(0x0200, 0x02A0), 0x029F}),
    CaseName());

} // namespace
