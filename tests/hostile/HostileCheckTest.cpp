// `tervix-flash check` on the hostile corpus: a file the programmer would refuse gets exit
// status 2 and a message naming the line and the code the programmer would stop with, a file
// without data to write gets 2 and says so; a file that flash would write gets 0.

#include "tests/support/CaseName.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

struct CheckCase {
    std::string name;
    const char* file;
    int exitStatus;
    const char* where; // the line named in the message, or the fault
    const char* code;  // the code named in the message, or what flash makes of it
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << c.name;
}

// A file with nothing to write would only wipe the board; flash refuses it, and check says so.
constexpr const char* NoData = "holds no data for program memory or data EEPROM";
constexpr const char* RefusedByFlash = "flash would refuse it";

class HostileCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(HostileCheck, NamesTheLineAndTheCode) {
    const CheckCase& c = GetParam();
    TempFolder folder;
    ChildProcess check("tervix-flash", {"check", std::string(TERVIX_HOSTILE_CORPUS) + "/" + c.file},
                       folder.Path());
    ASSERT_TRUE(check.Started());
    EXPECT_EQ(check.Wait(30000), c.exitStatus) << check.Err();
    if (c.exitStatus != 0) {
        EXPECT_NE(check.Err().find(c.where), std::string::npos) << check.Err();
        EXPECT_NE(check.Err().find(c.code), std::string::npos) << check.Err();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, HostileCheck,
    testing::Values(
        CheckCase{"LfLineEnds", "good_lf.hex", 0, "", ""},
        CheckCase{"CrLfLineEnds", "good_crlf.hex", 0, "", ""},
        CheckCase{"CrOnlyLineEnds", "cr_only.hex", 0, "", ""},
        CheckCase{"TwoRecordsPerLine", "two_per_line.hex", 2, "line 2:", "-1020"},
        CheckCase{"EmptyExtendedLinearAddress", "empty_type_04.hex", 2, "line 2:", "-1020"},
        CheckCase{"NonZeroSegment", "segment_02.hex", 2, "line 2:", "-1020"},
        CheckCase{"DataOnlyInIdAndConfiguration", "disabled_spaces_only.hex", 2, NoData,
                  RefusedByFlash},
        CheckCase{"BadChecksum", "bad_checksum.hex", 2, "line 2:", "-1020"},
        CheckCase{"NonHexCharacter", "non_hex_digit.hex", 2, "line 2:", "-1020"},
        CheckCase{"RecordCutShort", "cut_short.hex", 2, "line 2:", "-1020"},
        CheckCase{"RecordType06", "type_06.hex", 2, "line 2:", "-1020"},
        CheckCase{"RecordTypeFF", "type_ff.hex", 2, "line 2:", "-1020"},
        CheckCase{"RowPastBuffer", "row_overflow.hex", 2, "line 2:", "-1020"},
        CheckCase{"LongRecordPastBuffer", "long_record.hex", 2, "line 2:", "-1020"},
        CheckCase{"ProgramRowBelow0x200", "below_boot_block.hex", 2, "line 2:", "-1010"},
        CheckCase{"EepromRowPastEnd", "eeprom_past_end.hex", 2, "line 4:", "-1011"},
        CheckCase{"LinesLongerThan255", "long_line.hex", 0, "", ""},
        CheckCase{"BinaryJunk", "binary_junk.bin", 2, NoData, RefusedByFlash},
        CheckCase{"BinaryJunkWithColon", "binary_junk_colon.bin", 2, "line 5:", "-1020"},
        CheckCase{"EmptyFile", "empty.hex", 2, NoData, RefusedByFlash},
        CheckCase{"NoEndOfFileRecord", "no_eof.hex", 0, "", ""},
        CheckCase{"RecordsAfterEndOfFile", "after_eof.hex", 0, "", ""},
        // Files that the programmer takes but no board can end up holding.
        CheckCase{"OnlyARecordOfNoBytes", "zero_count_only.hex", 2, NoData, RefusedByFlash},
        CheckCase{"EmptyEepromRecordBesideData", "empty_eeprom_record.hex", 0, "", ""},
        CheckCase{"ProgramBytesThatDisagree", "program_conflict.hex", 2,
                  "line 2: the bytes for program memory address 0x020A differ from those on "
                  "line 1",
                  RefusedByFlash},
        CheckCase{"EepromBytesThatDisagree", "eeprom_conflict.hex", 2,
                  "line 4: the bytes for data EEPROM address 0x0012 differ from those on line 3",
                  RefusedByFlash},
        CheckCase{"PastTheEndOfProgramMemory", "past_program_end.hex", 2,
                  "line 2: program memory data at 0x8000 lies past the end of program memory at "
                  "0x7FFF",
                  RefusedByFlash},
        CheckCase{"PastTheEndThroughAnUpperAddress", "past_64k.hex", 2,
                  "line 3: program memory data at 0x10000 lies past the end", RefusedByFlash}),
    CaseName{});

TEST(HostileCheckSize, FiftyMegabyteFileIsChecked) {
    TempFolder folder;
    {
        std::ofstream out(folder.File("big.hex"), std::ios::binary);
        const std::string filler = "; " + std::string(97, '-') + "\n";
        for (std::size_t written = 0; written < 50u << 20; written += filler.size()) {
            out << filler;
        }
        out << ":10020000000102030405060708090A0B0C0D0E0FFF\n";
    }
    ChildProcess check("tervix-flash", {"check", folder.File("big.hex")}, folder.Path());
    EXPECT_EQ(check.Wait(120000), 2) << check.Err();
    // The bad record stands after 524289 filler lines.
    EXPECT_NE(check.Err().find("line 524289:"), std::string::npos) << check.Err();
}

} // namespace
