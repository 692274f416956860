#include "cli/BoardsDisplay.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"

#include <algorithm>
#include <cstdio>

namespace {

// A failure's words are cut to this on a board's live line, so that it fits 80 columns.
constexpr std::size_t LiveReasonWidth = 36;

// How a board ended, for its live line; the reason is cut so that the line stays one line.
std::string EndText(const RunningBoard& board, std::size_t reasonWidth) {
    if (board.Status == ExitStatus::Success) {
        return "done";
    }
    const std::string result = board.Record["result"].get<std::string>();
    return Format("FAILED (exit %d): %s", board.Status,
                  result.substr(0, std::min(result.find('\n'), reasonWidth)).c_str());
}

// Words of text in lines of at most width characters (a longer word has a line of its own).
std::vector<std::string> Wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(start, end - start);
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) {
            lines.emplace_back();
        }
        lines.back() += (lines.back().empty() ? "" : " ") + word;
        start = end + 1;
    }
    return lines;
}

} // namespace

void BoardsDisplay::Show(const std::vector<RunningBoard>& boards, bool final) {
    if (quiet_) {
        ShowFailures(boards);
        return;
    }
    if (terminal_) {
        if (!final &&
            std::chrono::steady_clock::now() - drawn_ < std::chrono::milliseconds(RedrawPeriodMs) &&
            lines_ > 0) {
            return;
        }
        if (lines_ > 0) {
            std::fprintf(stderr, "\033[%zuA", lines_);
        }
        for (const RunningBoard& board : boards) {
            std::fprintf(stderr, "\r%-10s %-7s %3d %%  %s\033[K\n", board.Port.c_str(),
                         board.Stage.c_str(), board.Percent,
                         board.Running ? "" : EndText(board, LiveReasonWidth).c_str());
        }
        lines_ = boards.size();
        drawn_ = std::chrono::steady_clock::now();
    } else {
        for (const RunningBoard& board : boards) {
            if (board.Running && board.Stage == StartStage) {
                continue;
            }
            const std::string line = board.Running
                                         ? Format("%s: %s %d %%", board.Port.c_str(),
                                                  board.Stage.c_str(), board.Percent / 25 * 25)
                                         : board.Port + ": " + EndText(board, std::string::npos);
            if (shown_[board.Port] != line) {
                shown_[board.Port] = line;
                std::fprintf(stderr, "%s\n", line.c_str());
            }
        }
    }
    std::fflush(stderr);
}

void BoardsDisplay::ShowFailures(const std::vector<RunningBoard>& boards) {
    for (const RunningBoard& board : boards) {
        if (!board.Running && board.Status != ExitStatus::Success &&
            shown_.emplace(board.Port, "").second) {
            Fail(board.Status, Format("%s: FAILED (exit %d): %s", board.Port.c_str(), board.Status,
                                      board.Record["result"].get<std::string>().c_str()));
        }
    }
}

void PrintSummary(const std::vector<RunningBoard>& boards, const std::string& recordFile,
                  const Unrecorded& unrecorded) {
    constexpr std::size_t PortWidth = 10;
    constexpr std::size_t ResultColumn = 33;
    constexpr std::size_t ResultWidth = 80 - ResultColumn;
    std::printf("%-10s %3s %4s %6s %4s  %s\n", "Port", "Dev", "Rows", "Secs", "Exit", "Result");
    std::size_t failed = 0;
    std::vector<std::string> notes;
    for (const RunningBoard& board : boards) {
        const nlohmann::ordered_json& r = board.Record;
        const std::string device = r["device"].is_null() ? "-" : r["device"].dump();
        const bool longPort = board.Port.size() > PortWidth;
        if (longPort) {
            std::printf("%s\n", board.Port.c_str());
        }
        const std::string text = r["result"].get<std::string>();
        const std::size_t end = text.find('\n');
        if (end != std::string::npos &&
            std::find(notes.begin(), notes.end(), text.substr(end + 1)) == notes.end()) {
            notes.push_back(text.substr(end + 1));
        }
        const std::vector<std::string> result = Wrapped(text.substr(0, end), ResultWidth);
        std::printf("%-10s %3s %4d %6.1f %4d  %s\n", longPort ? "" : board.Port.c_str(),
                    device.c_str(), r["rows"].get<int>(), r["seconds"].get<double>(), board.Status,
                    result[0].c_str());
        for (std::size_t i = 1; i < result.size(); ++i) {
            std::printf("%*s%s\n", static_cast<int>(ResultColumn), "", result[i].c_str());
        }
        failed += board.Status == 0 ? 0 : 1;
    }
    std::printf("%s: %zu succeeded, %zu failed\n", Counted(boards.size(), "board").c_str(),
                boards.size() - failed, failed);
    if (unrecorded.Count > 0) {
        std::printf("the records of %d of the %s were not written to %s: %s\n", unrecorded.Count,
                    Counted(boards.size(), "board").c_str(), recordFile.c_str(),
                    unrecorded.Reason.c_str());
    }
    for (const std::string& note : notes) {
        std::printf("\n%s\n", note.c_str());
    }
}
