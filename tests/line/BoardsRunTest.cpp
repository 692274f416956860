// A board's folder named from its port, the lines its child writes for the parent, and the
// record a parent takes from what its child printed, however odd that was.

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

// Each line a child writes reads back as what it said; a stage only counts once it is named in
// lower-case letters, and its end only when it ended well.
TEST(BoardsRun, AChildsLinesReadBackAsWritten) {
    struct Case {
        std::string line;
        ChildLine::Kind what;
        std::string text;
        std::string stage;
        int percent;
    };
    const Case cases[] = {
        {ProgressLine("erase", 42), ChildLine::Progress, "", "erase", 42},
        {StageEndLine("write", true, 3.14), ChildLine::Progress, "", "write", 100},
        {StageEndLine("write", false, 0.4), ChildLine::Other, "", "", 0},
        {ProgressLine("run-mode", 5), ChildLine::Other, "", "", 0},
        {SerialNumberLine("A 7"), ChildLine::Serial, "A 7", "", 0},
        {RecordedLine(true, "ignored"), ChildLine::Recorded, "", "", 0},
        {RecordedLine(false, "disk full"), ChildLine::NotRecorded, "disk full", "", 0},
        {std::string(FailurePrefix) + "erase: 3 %", ChildLine::Failure, "erase: 3 %", "", 0},
        {R"({"rows": 2})", ChildLine::Record, R"({"rows": 2})", "", 0},
        {"connected to COM3", ChildLine::Other, "", "", 0},
    };
    for (const Case& c : cases) {
        const ChildLine read = ReadChildLine(c.line);
        EXPECT_EQ(read.What, c.what) << c.line;
        EXPECT_EQ(read.Text, c.text) << c.line;
        EXPECT_EQ(read.Stage, c.stage) << c.line;
        EXPECT_EQ(read.Percent, c.percent) << c.line;
    }
    EXPECT_EQ(StageEndLine("write", true, 3.14), "write: done in 3.1 s");
}
