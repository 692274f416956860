#include "line/StationJob.h"

#include "line/BoardsRun.h"
#include "line/RecordFile.h"

#include <filesystem>
#include <map>
#include <mutex>

namespace {

// The statuses of a board's child the station acts on.
constexpr int FileFault = 2; // its record file, serial numbers, folder or firmware failed
constexpr int KilledStatus = 6;
constexpr int NotStarted = 64;

// Passes each look at the child's progress on.
class JobView : public BoardsView {
public:
    explicit JobView(const std::function<void(const std::string&, int)>& progress)
        : progress_(progress) {}
    void Ended(RunningBoard&) override {}
    void Show(const std::vector<RunningBoard>& boards, bool) override {
        progress_(boards.front().Stage, boards.front().Percent);
    }

private:
    const std::function<void(const std::string&, int)>& progress_;
};

std::string WhileStage(const std::string& stage) {
    static const std::map<std::string, std::string> Words = {
        {"start", "starting"}, {"connect", "connecting"}, {"erase", "erasing"},
        {"write", "writing"},  {"verify", "verifying"},   {"run-mode", "setting run mode"}};
    const auto word = Words.find(stage);
    return "while " + (word == Words.end() ? stage : word->second);
}

// Whether line stands as a whole line in text.
bool HoldsLine(const std::string& text, const std::string& line) {
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        if ((at == 0 || text[at - 1] == '\n') && text.compare(at + line.size(), 1, "\n") == 0) {
            return true;
        }
    }
    return false;
}

// Children are started one at a time: on Windows a child inherits every handle that may be
// inherited at the moment it starts, another board's output pipe included, which would then stay
// open until that child ended.
std::mutex starting;

} // namespace

JobEnd RunStationJob(const StationJobs& jobs, std::size_t position, const std::string& port,
                     const std::function<void(const std::string& stage, int percent)>& progress) {
    std::vector<RunningBoard> boards(1);
    RunningBoard& board = boards.front();
    board.Port = port;
    board.Started = std::chrono::steady_clock::now();
    JobEnd end;
    std::uint64_t recordStart = 0;
    {
        const RecordFile file(jobs.RecordFile);
        recordStart = file.Size();
    }
    std::vector<std::string> args = jobs.Args;
    args.insert(args.end(), {"--port", port, "--position", std::to_string(position)});
    std::error_code error;
    std::filesystem::create_directories(BoardFolder(port), error);
    bool started = false;
    if (!error) {
        std::lock_guard<std::mutex> guard(starting);
        started = StartBoard(board, jobs.Program, args);
    }
    if (started) {
        JobView view(progress);
        AwaitBoards(boards, jobs.StopSignal, view, 100);
    } else {
        board.Status = NotStarted;
        board.Reason = error
                           ? "cannot make the folder " + BoardFolder(port) + ": " + error.message()
                           : board.Reason;
    }
    const int childStatus = board.Status;
    end.Status = board.Killed ? KilledStatus : board.Status;

    std::string added;
    const bool wrote =
        board.Recorded != ChildRecordState::Unsaid ||
        (!board.ChildLine.empty() && RecordFile(jobs.RecordFile).ReadAfter(recordStart, added) &&
         HoldsLine(added, board.ChildLine));
    if (wrote) {
        end.Record = nlohmann::ordered_json::parse(board.ChildLine, nullptr, false);
    }
    if (!end.Record.is_object()) {
        BoardRecord record = ChildBoardRecord(board);
        record.Command = jobs.Base.Command;
        record.File = jobs.Base.File;
        record.Sha256 = jobs.Base.Sha256;
        record.Tags = jobs.Base.Tags;
        record.Place = jobs.Base.Place;
        record.Place.Position = static_cast<int>(position);
        if (board.Killed) {
            record.Outcome.Result = "its process was killed " + WhileStage(board.Stage) +
                                    " (status " + std::to_string(childStatus) + ")";
        } else if (record.Outcome.Result.empty() && jobs.StopSignal() != 0) {
            record.Outcome.Result = "interrupted " + WhileStage(board.Stage);
        } else if (record.Outcome.Result.empty()) {
            record.Outcome.Result = board.Reason.empty()
                                        ? "ended with status " + std::to_string(board.Status)
                                        : board.Reason;
        }
        record.ExitStatus = end.Status;
        end.Record = RecordJson(record);
        if (!wrote) {
            RecordFile file(jobs.RecordFile);
            if (!file.Ok() || !file.Append(end.Record.dump())) {
                end.Halt = "cannot append to the record " + jobs.RecordFile + ": " + file.Error();
            }
        }
    }
    // How the child really ended, when that came after its line: a journal or a record file that
    // refused, or a kill.
    if (end.Record["exit_status"] != end.Status) {
        end.Record["exit_status"] = end.Status;
        if (!board.Reason.empty() && !board.Killed) {
            end.Record["result"] = board.Reason;
        }
    }
    if (board.Recorded == ChildRecordState::NotWritten) {
        end.Halt = "cannot append to the record " + jobs.RecordFile + ": " + board.RecordError;
    } else if (end.Halt.empty() && (end.Status == FileFault || end.Status == NotStarted)) {
        end.Halt = end.Record["result"].get<std::string>();
    }
    return end;
}
