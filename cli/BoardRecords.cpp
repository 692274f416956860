#include "cli/BoardRecords.h"

#include "cli/ExitStatus.h"
#include "cli/Interruption.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"
#include "line/LineSpool.h"

#include <cstdio>
#include <utility>

namespace {

// A board whose process was ended from outside, in the words of its record.
std::string KilledText(const RunningBoard& board, int childStatus) {
    return Format("its process was killed %s (status %d)", WhileStage(board.Stage).c_str(),
                  childStatus);
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
        std::fprintf(stderr, "%s\n",
                     RecordedLine(appended, appended ? std::string() : file->Error()).c_str());
    }
    return appended;
}

ParentView::ParentView(const BoardJob& job, const std::optional<std::string>& sha256,
                       RecordFile* file, BoardsShow show)
    : BoardsParent(file, {ExitStatus::Killed, ExitStatus::File}), job_(job), sha256_(sha256),
      file_(file), show_(std::move(show)) {}

// The record as the parent knows it: the board's own findings from what the child printed, the
// file as given and how the child really ended.
nlohmann::ordered_json ParentView::ParentRecord(const RunningBoard& board, int childStatus) {
    BoardRecord record = ChildBoardRecord(board);
    record.Command = job_.Command;
    record.File = job_.File;
    record.Sha256 = sha256_;
    record.Tags = job_.Boards.Tags;
    record.Place = job_.Boards.Place;
    if (board.Killed) {
        record.Outcome.Result = KilledText(board, childStatus);
    } else if (record.Outcome.Result.empty() && StopSignal() != 0) {
        // Stopped before it could say so itself.
        record.Outcome.Result = InterruptedResult(board.Stage);
    } else if (record.Outcome.Result.empty()) {
        record.Outcome.Result =
            board.Reason.empty() ? Format("ended with status %d", board.Status) : board.Reason;
    }
    if (job_.Boards.Line.Used()) {
        record.Id = NewRecordId(job_.Boards.Line.Station);
    }
    return RecordJson(record);
}

std::string ParentView::KilledResult(const RunningBoard& board, int childStatus) {
    return KilledText(board, childStatus);
}

bool ParentView::Publish(const nlohmann::ordered_json& record) {
    const LineSettings& line = job_.Boards.Line;
    std::string why;
    // Sent with what the boards left in the spool, once the run ends.
    if (line.Used() &&
        !LineSpool(line.Spool)
             .Append({{NewSpoolId(), line.Url, SpoolKind::Record, 0, record}}, why)) {
        std::fprintf(stderr, "tervix-flash: %s; a board's record was not sent to the line server\n",
                     why.c_str());
    }
    return PublishRecord(job_, file_, record);
}

void ParentView::ChildRecorded(const RunningBoard& board) {
    if (job_.Boards.Json) {
        std::printf("%s\n", board.ChildLine.c_str());
        std::fflush(stdout);
    }
}

void ParentView::Show(const std::vector<RunningBoard>& boards, bool finished) {
    show_(boards, finished);
}
