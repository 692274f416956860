#pragma once
// A run on several boards as its parent sees it: one child process per board, each in a folder
// of its own, and what each child's output has said so far: its stage and percent, its last
// failure and its record. Nothing here prints; a view is told of every change, so that the
// command line and a station window can show the same run each in its own way.

#include "line/BoardProcess.h"
#include "line/BoardRecord.h"
#include "line/ChildReport.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A board's stage until its child reports the first one.
inline constexpr const char* StartStage = "start";

// What a child said of its record line.
enum class ChildRecordState {
    Unsaid,    // nothing: it ended before, or was killed around the time it wrote it
    Written,   // appended where the run asked, or printed when nothing is to be appended
    NotWritten // the record file refused it
};

struct RunningBoard {
    std::string Port;
    std::unique_ptr<BoardProcess> Child;
    std::chrono::steady_clock::time_point Started;
    std::string Pending; // output after the last line end
    std::string Stage = StartStage;
    int Percent = 0;
    std::string Reason;    // the child's last failure message
    std::string ChildLine; // the child's record line, as it printed it
    nlohmann::json ChildRecord;
    ChildRecordState Recorded = ChildRecordState::Unsaid;
    std::string RecordError; // why the record file refused the child's line
    std::string Serial;      // the number the child said may be on its board
    bool Running = true;
    int Status = -1;
    bool Killed = false;           // the child was ended from outside
    nlohmann::ordered_json Record; // the parent's record, once the board has ended
};

// The folder a board's child works in: "COM3" for COM3 and "\\.\COM3"; a device path keeps its
// name without the slashes.
std::string BoardFolder(const std::string& port);

// What every board's child of a run is given.
struct BoardChildJob {
    std::string Command;              // "flash", "verify", "erase"
    std::vector<std::string> Options; // the command's own options
    std::string Source;               // the parent's private copy of the file; empty for none
    std::string FileName;             // the file as the user gave it
    std::string Record;               // the record file each child appends to; empty for none
    std::vector<std::pair<std::string, std::string>> Tags;
    std::uint32_t TimeoutMs = 0; // 0 keeps the profile's read time-out
};

// The command line of the child for the board on port: it reads the parent's copy of the file
// under the name the user gave, prints its progress for the parent and its record as JSON, and
// appends that record itself, before its serial number is journaled.
std::vector<std::string> BoardChildArgs(const BoardChildJob& job, const std::string& port);

// Starts the board's child in the board's folder; false, with the reason, when it could not be
// started.
bool StartBoard(RunningBoard& board, const std::string& program,
                const std::vector<std::string>& args);

// The board's record as its child reported it, with the port, the time since the board started
// and the status the child really ended with; the number the child said may be on its board
// stands as unverified when the child gave none. The run's own keys (command, file, digest,
// tags) are the caller's; the result is empty when the child ended before it gave one.
BoardRecord ChildBoardRecord(const RunningBoard& board);

// A board run by this process rather than a child: its requests and time counted from the start,
// for its record.
class BoardHere {
public:
    BoardHere();
    // The record of the board once its command ended with status; the run's own keys (command,
    // port, file, digest, tags) are the caller's.
    BoardRecord Record(const BoardOutcome& outcome, int status) const;

private:
    std::chrono::steady_clock::time_point started_;
    std::uint32_t sentBefore_;
};

class BoardsView {
public:
    virtual ~BoardsView() = default;
    // A board's child has ended: its status and what it said are final.
    virtual void Ended(RunningBoard& board) = 0;
    // How the boards stand, after every look at the children; finished once none runs.
    virtual void Show(const std::vector<RunningBoard>& boards, bool finished) = 0;
};

// Gathers the children's progress and results until every child has ended, looking at least
// every periodMs. A stop that stopSignal reports (0 for none) is passed on to every child still
// running, once: a stop sent to the parent alone then reaches every board too.
void AwaitBoards(std::vector<RunningBoard>& boards, const std::function<int()>& stopSignal,
                 BoardsView& view, int periodMs);
