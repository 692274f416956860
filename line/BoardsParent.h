#pragma once
// The parent's side of a run's children: a record line for every board, written by the board's
// own child (before its serial number is journaled) or, for a board whose child wrote none (it
// failed its device check, could not start, or was killed before), by the parent, and never a
// second one; and the status the run as a whole ends with. The words and where records go are
// the face's.

#include "line/BoardsRun.h"
#include "line/RecordFile.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// The records a file refused: how many, and why the last one was.
struct Unrecorded {
    int Count = 0;
    std::string Reason;
};

// The statuses the parent gives: to a board whose child was ended from outside, and to the run
// when a record was not written.
struct ParentStatuses {
    int Killed = 0;
    int Unrecorded = 0;
};

class BoardsParent : public BoardsView {
public:
    // file: where the children append their records; null for none.
    BoardsParent(RecordFile* file, ParentStatuses statuses);

    void Ended(RunningBoard& board) override;

    // The worst board's exit status, or the unrecorded status when a record was not written.
    int Worst() const { return worst_; }
    const Unrecorded& NotRecorded() const { return unrecorded_; }

protected:
    // The record of a board whose child wrote none; childStatus is how the child really ended.
    virtual nlohmann::ordered_json ParentRecord(const RunningBoard& board, int childStatus) = 0;
    // The result of a board whose process was killed after its child wrote its line.
    virtual std::string KilledResult(const RunningBoard& board, int childStatus) = 0;
    // Writes a record the parent made as the run asks; false when the record file refused it.
    virtual bool Publish(const nlohmann::ordered_json& record) = 0;
    // The child of board wrote its own record line (board.ChildLine).
    virtual void ChildRecorded(const RunningBoard& board) = 0;

private:
    void CountUnrecorded(const std::string& reason);
    bool ChildWroteItsLine(const RunningBoard& board) const;

    RecordFile* file_;
    std::uint64_t recordStart_; // the record file's length before any child ran
    ParentStatuses statuses_;
    int worst_ = 0;
    Unrecorded unrecorded_;
};
