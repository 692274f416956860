#include "sim/BoardImage.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

TEST(BoardImageLoad, FollowsUpperAddressesAndStopsAtTheEndRecord) {
    TempFolder folder;
    ASSERT_TRUE(folder.Write("image.hex",
                             "junk before the first record\n"
                             ":020000040000FA\n"
                             ":0203000011AA40\n" // program 0x300
                             ":0200000400F00A\n"
                             ":0300FF00010203F8\n" // EEPROM 0xFF, then two bytes past its end
                             ":00000001FF\n"
                             ":020000040000FA\n"
                             ":0203100022BB1E\n")); // after the end: never read
    Board board;
    const ImageLoad load = LoadBoardImage(board, folder.File("image.hex").c_str());
    ASSERT_TRUE(load.Ok) << load.Error;
    EXPECT_EQ(load.Loaded, 3u);
    EXPECT_EQ(load.Ignored, 2u);
    EXPECT_EQ(board.ReadProgramSpace(0x301), 0xAA);
    EXPECT_EQ(board.ReadEeprom(0xFF), 0x01);
    EXPECT_EQ(board.ReadProgramSpace(0x310), 0xFF);
}

} // namespace
