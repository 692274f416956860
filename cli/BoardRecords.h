#pragma once
// The record lines of a run's boards. The process that ran a board writes its line, before the
// board's serial number is journaled as used; a parent writes the line only for a board whose
// process wrote none (it failed its device check, could not start, or was killed before), and
// never a second one.

#include "cli/BoardsDisplay.h"
#include "cli/Commands.h"
#include "line/BoardsRun.h"
#include "line/RecordFile.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

// Writes a board's record where it was asked for: printed on standard output, then appended to
// the record file. A board's child then tells its parent whether the file took the line. False,
// with the reason printed, when the record file refused the line; a closed standard output only
// loses the printed line.
bool PublishRecord(const BoardJob& job, RecordFile* file, const nlohmann::ordered_json& record);

// The parent's side of a run's children: the lines of boards whose child wrote none, what each
// child's line said for --json and the table, and the live lines.
class ParentView : public BoardsView {
public:
    ParentView(const BoardJob& job, const std::optional<std::string>& sha256, RecordFile* file,
               BoardsDisplay& display);

    void Ended(RunningBoard& board) override;
    void Show(const std::vector<RunningBoard>& boards, bool finished) override;

    // The worst board's exit status, or ExitStatus::File when a record was not written.
    int Worst() const { return worst_; }
    const Unrecorded& NotRecorded() const { return unrecorded_; }

private:
    void CountUnrecorded(const std::string& reason);
    bool ChildWroteItsLine(const RunningBoard& board) const;

    const BoardJob& job_;
    const std::optional<std::string>& sha256_;
    RecordFile* file_;
    std::uint64_t recordStart_; // the record file's length before any child ran
    BoardsDisplay& display_;
    int worst_ = 0;
    Unrecorded unrecorded_;
};
