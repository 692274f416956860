#include "cli/BoardRecords.h"

#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"

#include <algorithm>
#include <cstdio>

namespace {

// A board whose process was ended from outside, in the words of its record.
std::string KilledResult(const RunningBoard& board, int childStatus) {
    return Format("its process was killed %s (status %d)", WhileStage(board.Stage).c_str(),
                  childStatus);
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

// The record as the parent knows it, for a board whose child wrote none: the board's own
// findings from what the child printed, the file as given and how the child really ended.
nlohmann::ordered_json RecordOf(const BoardJob& job, const std::optional<std::string>& sha256,
                                const RunningBoard& board, int childStatus) {
    BoardRecord record = ChildBoardRecord(board);
    record.Command = job.Command;
    record.File = job.File;
    record.Sha256 = sha256;
    record.Tags = job.Boards.Tags;
    record.Place = job.Boards.Place;
    if (board.Killed) {
        record.Outcome.Result = KilledResult(board, childStatus);
    } else if (record.Outcome.Result.empty() && StopSignal() != 0) {
        // Stopped before it could say so itself.
        record.Outcome.Result = InterruptedResult(board.Stage);
    } else if (record.Outcome.Result.empty()) {
        record.Outcome.Result =
            board.Reason.empty() ? Format("ended with status %d", board.Status) : board.Reason;
    }
    return RecordJson(record);
}

} // namespace

bool PublishRecord(const BoardJob& job, RecordFile* file, const nlohmann::ordered_json& record) {
    const std::string line = record.dump();
    if (job.Boards.Json) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    const bool appended = file == nullptr || file->Append(line);
    if (!appended) {
        Fail(ExitStatus::File,
             Format("cannot append to the record %s: %s; the record of %s was not written",
                    job.Boards.Record.c_str(), file->Error().c_str(),
                    record["port"].is_string() ? record["port"].get<std::string>().c_str()
                                               : "the board"));
    }
    if (job.Session.ForParent) {
        const std::string said =
            appended ? std::string(RecordedLine) : std::string(NotRecordedLine) + file->Error();
        std::fprintf(stderr, "%s\n", said.c_str());
    }
    return appended;
}

ParentView::ParentView(const BoardJob& job, const std::optional<std::string>& sha256,
                       RecordFile* file, BoardsDisplay& display)
    : job_(job), sha256_(sha256), file_(file), recordStart_(file != nullptr ? file->Size() : 0),
      display_(display) {}

void ParentView::Ended(RunningBoard& board) {
    const int childStatus = board.Status;
    if (board.Killed) {
        board.Status = ExitStatus::Killed;
    }
    worst_ = std::max(worst_, board.Status);
    if (!ChildWroteItsLine(board)) {
        board.Record = RecordOf(job_, sha256_, board, childStatus);
        if (!PublishRecord(job_, file_, board.Record)) {
            CountUnrecorded(file_->Error());
        }
        return;
    }
    if (job_.Boards.Json) {
        std::printf("%s\n", board.ChildLine.c_str());
        std::fflush(stdout);
    }
    if (board.Recorded == ChildRecordState::NotWritten) {
        CountUnrecorded(board.RecordError);
    }
    board.Record = nlohmann::ordered_json::parse(board.ChildLine, nullptr, false);
    if (!board.Record.is_object()) {
        board.Record = RecordOf(job_, sha256_, board, childStatus);
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

void ParentView::Show(const std::vector<RunningBoard>& boards, bool finished) {
    display_.Show(boards, finished);
}

void ParentView::CountUnrecorded(const std::string& reason) {
    worst_ = std::max(worst_, ExitStatus::File);
    ++unrecorded_.Count;
    unrecorded_.Reason = reason;
}

// A child says so after its line; one killed before it could say may still have appended the
// line it had printed, which is then looked for among the lines added since the start.
bool ParentView::ChildWroteItsLine(const RunningBoard& board) const {
    if (board.Recorded != ChildRecordState::Unsaid) {
        return true;
    }
    std::string added;
    return !board.ChildLine.empty() && file_ != nullptr && file_->ReadAfter(recordStart_, added) &&
           HoldsLine(added, board.ChildLine);
}
