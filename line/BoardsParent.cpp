#include "line/BoardsParent.h"

#include <algorithm>

namespace {

// Whether line stands as a whole line in text.
bool HoldsLine(const std::string& text, const std::string& line) {
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        if ((at == 0 || text[at - 1] == '\n') && text.compare(at + line.size(), 1, "\n") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

BoardsParent::BoardsParent(RecordFile* file, ParentStatuses statuses)
    : file_(file), recordStart_(file != nullptr ? file->Size() : 0), statuses_(statuses) {}

void BoardsParent::Ended(RunningBoard& board) {
    const int childStatus = board.Status;
    if (board.Killed) {
        board.Status = statuses_.Killed;
    }
    worst_ = std::max(worst_, board.Status);
    if (!ChildWroteItsLine(board)) {
        board.Record = ParentRecord(board, childStatus);
        if (!Publish(board.Record)) {
            CountUnrecorded(file_->Error());
        }
        return;
    }
    ChildRecorded(board);
    if (board.Recorded == ChildRecordState::NotWritten) {
        CountUnrecorded(board.RecordError);
    }
    board.Record = nlohmann::ordered_json::parse(board.ChildLine, nullptr, false);
    if (!board.Record.is_object()) {
        board.Record = ParentRecord(board, childStatus);
    }
    // The table tells how the child really ended when that came after its line: a journal or a
    // record file that refused, or a kill.
    if (board.Record["exit_status"] != board.Status) {
        board.Record["exit_status"] = board.Status;
        if (board.Killed) {
            board.Record["result"] = KilledResult(board, childStatus);
        } else if (!board.Reason.empty()) {
            board.Record["result"] = board.Reason;
        }
    }
}

void BoardsParent::CountUnrecorded(const std::string& reason) {
    worst_ = std::max(worst_, statuses_.Unrecorded);
    ++unrecorded_.Count;
    unrecorded_.Reason = reason;
}

// A child says so after its line; one killed before it could say may still have appended the
// line it had printed, which is then looked for among the lines added since the start.
bool BoardsParent::ChildWroteItsLine(const RunningBoard& board) const {
    if (board.Recorded != ChildRecordState::Unsaid) {
        return true;
    }
    std::string added;
    return !board.ChildLine.empty() && file_ != nullptr && file_->ReadAfter(recordStart_, added) &&
           HoldsLine(added, board.ChildLine);
}
