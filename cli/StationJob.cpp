#include "cli/StationJob.h"

#include "cli/BoardRecords.h"
#include "cli/BoardsDisplay.h"
#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "line/RecordFile.h"

#include <filesystem>
#include <mutex>

namespace {

// Children are started one at a time: on Windows a child inherits every handle that may be
// inherited at the moment it starts, another board's output pipe included, which would then stay
// open until that child ended.
std::mutex starting;

} // namespace

JobEnd RunStationJob(const StationJobs& jobs, std::size_t position, const std::string& port,
                     const std::function<void(const std::string& stage, int percent)>& progress) {
    BoardJob run = jobs.Run;
    run.Boards.Place.Position = static_cast<int>(position);
    std::vector<RunningBoard> boards(1);
    RunningBoard& board = boards.front();
    board.Port = port;
    board.Started = std::chrono::steady_clock::now();
    RecordFile file(run.Boards.Record);
    std::vector<std::string> args = BoardChildArgs(jobs.Child, port);
    args.insert(args.end(), {"--position", std::to_string(position)});
    std::error_code error;
    std::filesystem::create_directories(BoardFolder(port), error);
    if (error) {
        board.Running = false;
        board.Status = ExitStatus::Usage;
        board.Reason = "cannot make the folder " + BoardFolder(port) + ": " + error.message();
    } else {
        std::lock_guard<std::mutex> guard(starting);
        if (!StartBoard(board, jobs.Program, args)) {
            board.Status = ExitStatus::Usage;
        }
    }
    ParentView view(run, jobs.Sha256, file.Ok() ? &file : nullptr,
                    [&progress](const std::vector<RunningBoard>& shown, bool) {
                        progress(shown.front().Stage, shown.front().Percent);
                    });
    AwaitBoards(boards, StopSignal, view, RedrawPeriodMs);

    JobEnd end{board.Record, board.Status, {}};
    if (!file.Ok()) {
        end.Halt = "cannot append to the record " + run.Boards.Record + ": " + file.Error();
    } else if (view.NotRecorded().Count > 0) {
        end.Halt =
            "cannot append to the record " + run.Boards.Record + ": " + view.NotRecorded().Reason;
    } else if (board.Status == ExitStatus::File || board.Status == ExitStatus::Usage) {
        // The station's own files, the firmware or the child's start failed: every next board
        // would fail alike.
        end.Halt = end.Record.value("result", std::string());
    }
    return end;
}
