// A board's folder named from its port, and the record a parent takes from what its child
// printed, however odd that was.

#include "line/BoardsRun.h"

#include <gtest/gtest.h>

TEST(BoardsRun, EachPortHasAFolderOfItsOwnWithoutSlashes) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", "COM3"},
        {"\\\\.\\COM12", "COM12"},
        {"/dev/ttyUSB0", "dev_ttyUSB0"},
        {"/tmp/x/pty", "tmp_x_pty"},
        {"a\\b", "a_b"},
    };
    for (const auto& [port, folder] : cases) {
        EXPECT_EQ(BoardFolder(port), folder) << port;
    }
}

TEST(BoardsRun, TheRecordKeepsWhatTheChildReportedAndSkipsWhatItGotWrong) {
    RunningBoard board;
    board.Port = "COM4";
    board.Status = 4;
    board.Started = std::chrono::steady_clock::now();
    board.ChildRecord = nlohmann::json::parse(
        R"({"device": 32, "rows": 5, "requests": 17, "result": "verify failed at 0x0840",
            "serial": "A-0007", "time": "2026-01-02T03:04:05Z"})");
    BoardRecord record = ChildBoardRecord(board);
    EXPECT_EQ(record.Port, "COM4");
    EXPECT_EQ(record.ExitStatus, 4);
    EXPECT_EQ(record.Outcome.Device, 32);
    EXPECT_EQ(record.Outcome.Rows, 5);
    EXPECT_EQ(record.Requests, 17U);
    EXPECT_EQ(record.Outcome.Result, "verify failed at 0x0840");
    EXPECT_EQ(record.Outcome.Serial, "A-0007");
    EXPECT_EQ(record.Outcome.Time, "2026-01-02T03:04:05Z");
    EXPECT_GE(record.Seconds, 0);

    // A child that died mid-line, or printed the wrong types, still leaves a record.
    for (const char* odd : {R"({"device": "32", "rows": null, "result": 7, "serial": []})",
                            R"([1, 2])", "not json"}) {
        board.ChildRecord = nlohmann::json::parse(odd, nullptr, false);
        record = ChildBoardRecord(board);
        EXPECT_FALSE(record.Outcome.Device) << odd;
        EXPECT_EQ(record.Outcome.Rows, 0) << odd;
        EXPECT_EQ(record.Requests, 0U) << odd;
        EXPECT_TRUE(record.Outcome.Result.empty()) << odd;
        EXPECT_FALSE(record.Outcome.Serial) << odd;
    }
}
