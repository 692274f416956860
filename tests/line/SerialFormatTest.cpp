// The bytes of each serial format, what does not fit, and the way back from bytes to the number.

#include "line/SerialFormat.h"

#include "tests/support/CaseName.h"

#include <gtest/gtest.h>

namespace {

struct EncodeCase {
    std::string name;
    std::string format;
    std::string value;
    std::vector<std::uint8_t> bytes; // empty: refused
    std::string shown;               // DecodeSerial of the bytes
};

class Encode : public testing::TestWithParam<EncodeCase> {};

} // namespace

TEST_P(Encode, BytesAndBack) {
    const EncodeCase& c = GetParam();
    std::string why;
    const auto format = ParseSerialFormat(c.format, why);
    ASSERT_TRUE(format) << why;
    const auto bytes = EncodeSerial(*format, c.value, why);
    if (c.bytes.empty()) {
        EXPECT_FALSE(bytes);
        EXPECT_FALSE(why.empty());
        return;
    }
    ASSERT_TRUE(bytes) << why;
    EXPECT_EQ(*bytes, c.bytes);
    EXPECT_EQ(DecodeSerial(*format, *bytes), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Encode,
    testing::Values(
        EncodeCase{"U16le", "u16le", "4660", {0x34, 0x12}, "4660"},
        EncodeCase{"U16be", "u16be", "4660", {0x12, 0x34}, "4660"},
        EncodeCase{"U16TooLarge", "u16le", "65536", {}, ""},
        EncodeCase{"U16AllOnesLooksBlank", "u16be", "65535", {}, ""},
        EncodeCase{"U32le", "u32le", "16909060", {4, 3, 2, 1}, "16909060"},
        EncodeCase{"U32be", "u32be", "16909060", {1, 2, 3, 4}, "16909060"},
        EncodeCase{"U32TooLarge", "u32be", "4294967296", {}, ""},
        EncodeCase{"U64le", "u64le", "258", {2, 1, 0, 0, 0, 0, 0, 0}, "258"},
        EncodeCase{"U64be",
                   "u64be",
                   "18446744073709551614",
                   {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE},
                   "18446744073709551614"},
        EncodeCase{"U64PastSixtyFourBits", "u64le", "18446744073709551616", {}, ""},
        EncodeCase{"NotANumber", "u32le", "12a", {}, ""},
        EncodeCase{"Negative", "u32le", "-1", {}, ""},
        EncodeCase{"AsciiPadded", "ascii:6", "42", {'0', '0', '0', '0', '4', '2'}, "42"},
        EncodeCase{"AsciiTooLong", "ascii:3", "1000", {}, ""},
        EncodeCase{"HexUpperCase", "hex:4", "2748", {'0', 'A', 'B', 'C'}, "2748"},
        EncodeCase{"HexTooLong", "hex:2", "256", {}, ""},
        EncodeCase{
            "BytesWithSeparators", "bytes", "de:ad-be ef", {0xDE, 0xAD, 0xBE, 0xEF}, "DEADBEEF"},
        EncodeCase{"BytesOddDigits", "bytes", "ABC", {}, ""},
        EncodeCase{"BytesOfTheWrongLength", "bytes:2", "010203", {}, ""},
        EncodeCase{"BytesAllOnes", "bytes", "FFFF", {}, ""}),
    CaseName());

TEST(SerialFormat, UnknownNamesAndLengthsAreRefused) {
    for (const char* text : {"u24le", "ascii", "ascii:0", "hex:65", "bytes:x", ""}) {
        std::string why;
        EXPECT_FALSE(ParseSerialFormat(text, why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}

TEST(SerialFormat, TextThatIsNotOfTheFormatDecodesToNothing) {
    std::string why;
    EXPECT_FALSE(DecodeSerial(*ParseSerialFormat("ascii:3", why), {'1', 'x', '3'}));
    EXPECT_FALSE(DecodeSerial(*ParseSerialFormat("hex:2", why), {'a', 'b'}));
}
