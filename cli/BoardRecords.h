#pragma once
// The record lines of a run's boards, as tervix-flash writes and words them.

#include "cli/Commands.h"
#include "line/BoardsParent.h"
#include "line/RecordFile.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Writes a board's record where it was asked for: printed on standard output, then appended to
// the record file. A board's child then tells its parent whether the file took the line. False,
// with the reason printed, when the record file refused the line; a closed standard output only
// loses the printed line.
bool PublishRecord(const BoardJob& job, RecordFile* file, const nlohmann::ordered_json& record);

// How the boards stand, after every look at the children; finished once none runs.
using BoardsShow = std::function<void(const std::vector<RunningBoard>& boards, bool finished)>;

// The parent's records in the words of tervix-flash, what each child's line said for --json, and
// the boards as they stand for show: the live lines, or a station's tile.
class ParentView : public BoardsParent {
public:
    ParentView(const BoardJob& job, const std::optional<std::string>& sha256, RecordFile* file,
               BoardsShow show);

    void Show(const std::vector<RunningBoard>& boards, bool finished) override;

protected:
    nlohmann::ordered_json ParentRecord(const RunningBoard& board, int childStatus) override;
    std::string KilledResult(const RunningBoard& board, int childStatus) override;
    bool Publish(const nlohmann::ordered_json& record) override;
    void ChildRecorded(const RunningBoard& board) override;

private:
    const BoardJob& job_;
    const std::optional<std::string>& sha256_;
    RecordFile* file_;
    BoardsShow show_;
};
