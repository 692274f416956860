// The record file read back from a point on: what other processes appended since, and never a
// device, which would give bytes for ever.

#include "line/RecordFile.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

TEST(RecordFile, ReadsBackWhatOthersAppendedSinceAPointOfAPlainFileOnly) {
    TempFolder folder;
    const std::string path = folder.File("r.jsonl");
    RecordFile parent(path);
    ASSERT_TRUE(parent.Ok());
    ASSERT_TRUE(parent.Append(R"({"port":"COM3"})"));
    const std::uint64_t start = parent.Size();
    EXPECT_EQ(start, 16u);
    RecordFile child(path);
    ASSERT_TRUE(child.Append(R"({"port":"COM4"})"));
    std::string added;
    ASSERT_TRUE(parent.ReadAfter(start, added));
    EXPECT_EQ(added, "{\"port\":\"COM4\"}\n");
    ASSERT_TRUE(parent.ReadAfter(parent.Size(), added));
    EXPECT_EQ(added, "");

    RecordFile device("/dev/zero");
    ASSERT_TRUE(device.Ok());
    EXPECT_FALSE(device.ReadAfter(0, added));
}
