#pragma once
// How a run on several boards looks on the terminal: a live line per board while they run, and
// the table of their records when all have ended.

#include "line/BoardsParent.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

// A terminal's live lines are redrawn at most this often.
inline constexpr int RedrawPeriodMs = 100;

// One line per board, redrawn in place on a terminal; a plain line at each change of stage,
// each quarter and each end otherwise.
class BoardsDisplay {
public:
    BoardsDisplay(bool quiet, bool terminal) : quiet_(quiet), terminal_(terminal) {}

    void Show(const std::vector<RunningBoard>& boards, bool final);

private:
    // Quiet still names every board that failed, once.
    void ShowFailures(const std::vector<RunningBoard>& boards);

    bool quiet_;
    bool terminal_;
    std::size_t lines_ = 0;
    std::chrono::steady_clock::time_point drawn_;
    std::map<std::string, std::string> shown_;
};

// The table fits 80 columns: a long port name takes a line of its own, and the result wraps
// under its column. A result of several lines (advice on a refused port) shows its first line in
// the table; the rest follows the table, once however many boards share it.
void PrintSummary(const std::vector<RunningBoard>& boards, const std::string& recordFile,
                  const Unrecorded& unrecorded);
