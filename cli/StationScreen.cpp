#include "cli/StationScreen.h"

#include "cli/Messages.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr int TileWidth = 20; // the narrowest tile: four across 80 columns
constexpr int TileHeight = 4; // name, state, two lines of detail
constexpr int BarWidth = 12;

const char* const Green = "\033[1;37;42m";
const char* const Red = "\033[1;37;41m";
const char* const Bold = "\033[1m";
const char* const Plain = "\033[0m";

std::string Clipped(const std::string& text, int width) {
    return text.substr(0, static_cast<std::size_t>(std::max(width, 0)));
}

std::string Padded(const std::string& text, int width) {
    std::string padded = Clipped(text, width);
    padded.resize(static_cast<std::size_t>(std::max(width, 0)), ' ');
    return padded;
}

// Local time of day, as the operator's clock on the wall shows it.
std::string ClockTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    char text[16] = "--:--:--";
    if (const std::tm* local = std::localtime(&seconds); local != nullptr) {
        std::strftime(text, sizeof text, "%H:%M:%S", local);
    }
    return text;
}

std::string YieldText(const YieldCounts& counts) {
    const auto yield = counts.FirstPassYield();
    return Format("passed %llu  failed %llu  first-pass yield %s",
                  static_cast<unsigned long long>(counts.Passed),
                  static_cast<unsigned long long>(counts.Failed),
                  yield ? Format("%.1f %%", *yield).c_str() : "-");
}

// The first line of a failure, in words that fit two lines of width.
std::vector<std::string> TwoLines(const std::string& text, int width) {
    const std::string first = text.substr(0, text.find('\n'));
    std::vector<std::string> lines(1);
    std::size_t start = 0;
    while (start < first.size() && lines.size() <= 2) {
        std::size_t end = first.find(' ', start);
        end = end == std::string::npos ? first.size() : end;
        const std::string word = first.substr(start, end - start);
        if (!lines.back().empty() &&
            lines.back().size() + 1 + word.size() > static_cast<std::size_t>(width)) {
            lines.emplace_back();
        }
        if (lines.size() <= 2) {
            lines.back() += (lines.back().empty() ? "" : " ") + word;
        }
        start = end + 1;
    }
    lines.resize(2);
    return lines;
}

std::string EndWords(const PositionStatus& position) {
    if (position.ExitStatus == 0) {
        return "PASS" + (position.Serial.empty() ? "" : " " + position.Serial);
    }
    return Format("FAIL exit %d", position.ExitStatus);
}

// A tile's four lines, without colour, and which of them (the state's) a colour marks.
struct Tile {
    std::string Lines[TileHeight];
    const char* Colour = nullptr;
};

Tile TileOf(const PositionStatus& position, ProjectStart start, int width) {
    Tile tile;
    tile.Lines[0] = std::to_string(position.Number) + " " + position.Port;
    switch (position.State) {
    case PositionState::Waiting:
        tile.Lines[1] = "waiting";
        tile.Lines[2] = position.Sight;
        tile.Lines[3] = position.Ended ? "last: " + EndWords(position) : "";
        break;
    case PositionState::Ready:
        tile.Lines[1] = position.Number <= 9 ? "READY: key " + std::to_string(position.Number)
                                             : std::string("READY: Enter");
        tile.Lines[2] = "a new board";
        break;
    case PositionState::Running: {
        tile.Lines[1] = Format("%-8s %3d %%", position.Stage.c_str(), position.Percent);
        std::string bar(BarWidth, '.');
        std::fill_n(bar.begin(), std::clamp(position.Percent, 0, 100) * BarWidth / 100, '#');
        tile.Lines[2] = "[" + bar + "]";
        break;
    }
    case PositionState::Passed:
        tile.Lines[1] = EndWords(position);
        tile.Lines[2] = Format("%.1f s", position.Seconds);
        tile.Lines[3] = start == ProjectStart::Board ? "take it off" : "";
        tile.Colour = Green;
        break;
    case PositionState::Failed: {
        tile.Lines[1] = EndWords(position);
        const std::vector<std::string> reason = TwoLines(position.Reason, width);
        tile.Lines[2] = reason[0];
        tile.Lines[3] = reason[1];
        tile.Colour = Red;
        break;
    }
    }
    return tile;
}

std::string Keys(const StationHeader& header, const StationSnapshot& snapshot) {
    if (snapshot.Quitting) {
        const std::size_t running = snapshot.JobsStarted - snapshot.JobsEnded;
        return Format("ending: %s still running", Counted(running, "job").c_str());
    }
    return header.Start == ProjectStart::Key
               ? "Enter: start every new board   1-9: start one   q: end"
               : "a board starts when it answers   1-9: start one again   q: end";
}

} // namespace

std::vector<std::string> StationScreen(const StationHeader& header, const StationSnapshot& snapshot,
                                       int columns, int rows, bool colour) {
    std::vector<std::string> lines;
    const auto add = [&](const std::string& text, const char* mark = nullptr) {
        const std::string shown = Clipped(text, columns);
        lines.push_back(colour && mark != nullptr ? mark + shown + Plain : shown);
    };
    add(Format("station %s   project %s", header.Station.c_str(), header.Project.c_str()), Bold);
    add(Format("firmware %s %s   %s", header.Firmware.c_str(), header.Sha256.substr(0, 12).c_str(),
               header.Tags.empty() ? "no tags" : ("tags " + header.Tags).c_str()));

    const std::size_t count = snapshot.Positions.size();
    const int across =
        std::clamp(columns / TileWidth, 1, static_cast<int>(std::max<std::size_t>(count, 1)));
    const int width = columns / across;
    // A blank line between rows of tiles where the screen has room for it.
    const int tileRows = static_cast<int>((count + static_cast<std::size_t>(across) - 1) /
                                          static_cast<std::size_t>(across));
    const bool gaps = 2 + tileRows * (TileHeight + 1) + 4 <= rows;
    for (std::size_t first = 0; first < count; first += static_cast<std::size_t>(across)) {
        if (gaps || first == 0) {
            lines.emplace_back();
        }
        std::string rowLines[TileHeight];
        for (std::size_t i = first; i < std::min(count, first + static_cast<std::size_t>(across));
             ++i) {
            const Tile tile = TileOf(snapshot.Positions[i], header.Start, width - 1);
            for (int line = 0; line < TileHeight; ++line) {
                const std::string text = Padded(tile.Lines[line], width - 1);
                const char* mark = line == 1 ? tile.Colour : line == 0 ? Bold : nullptr;
                rowLines[line] += (colour && mark != nullptr ? mark + text + Plain : text) + " ";
            }
        }
        for (const std::string& line : rowLines) {
            lines.push_back(line);
        }
    }

    lines.emplace_back();
    add(Format("station since %s  %s  (%s)", ClockTime(header.Started).c_str(),
               YieldText(snapshot.Station).c_str(), Counted(snapshot.JobsEnded, "job").c_str()));
    add(Format("lot%s%s in %s  %s", header.Lot.empty() ? "" : " ", header.Lot.c_str(),
               header.Records.c_str(),
               snapshot.LotProblem.empty() ? YieldText(snapshot.Lot).c_str()
                                           : snapshot.LotProblem.c_str()));

    // The last events in what is left, one line kept for the keys (and one for a halt).
    const int bottom = snapshot.Halt.empty() ? 1 : 2;
    const int room = rows - static_cast<int>(lines.size()) - 1 - bottom;
    if (room > 0) {
        lines.emplace_back();
        const std::size_t shown = std::min(snapshot.Events.size(), static_cast<std::size_t>(room));
        for (std::size_t i = snapshot.Events.size() - shown; i < snapshot.Events.size(); ++i) {
            add(EventLine(snapshot, snapshot.Events[i]));
        }
    }
    lines.resize(static_cast<std::size_t>(std::max(rows - bottom, 0)));
    if (!snapshot.Halt.empty()) {
        add("STOPPED: no more jobs start: " + snapshot.Halt, Red);
    }
    add(Keys(header, snapshot));
    return lines;
}

std::string StationStartLine(const StationHeader& header, std::size_t positions) {
    return Format("%s station %s: project %s, firmware %s (%s), %s, %s",
                  ClockTime(header.Started).c_str(), header.Station.c_str(), header.Project.c_str(),
                  header.Firmware.c_str(), header.Sha256.substr(0, 12).c_str(),
                  Counted(positions, "position").c_str(),
                  header.Start == ProjectStart::Board ? "a board starts when it answers"
                                                      : "boards start by key");
}

std::string EventLine(const StationSnapshot& snapshot, const StationEvent& event) {
    std::string where = "station";
    if (event.Position > 0 && event.Position <= snapshot.Positions.size()) {
        where = std::to_string(event.Position) + " " + snapshot.Positions[event.Position - 1].Port;
    }
    return ClockTime(event.Time) + " " + where + ": " + event.Text;
}

std::string StationSummary(const StationHeader& header, const StationSnapshot& snapshot) {
    std::string text =
        Format("station %s ended: %s; %s\n", header.Station.c_str(),
               Counted(snapshot.JobsEnded, "job").c_str(), YieldText(snapshot.Station).c_str());
    text += Format("lot%s%s in %s: %s\n", header.Lot.empty() ? "" : " ", header.Lot.c_str(),
                   header.Records.c_str(),
                   snapshot.LotProblem.empty() ? YieldText(snapshot.Lot).c_str()
                                               : snapshot.LotProblem.c_str());
    for (const PositionStatus& position : snapshot.Positions) {
        text += Format(
            "  %-3d %-10s %-7s %s\n", static_cast<int>(position.Number), position.Port.c_str(),
            Counted(position.Jobs, "job").c_str(),
            !position.Ended ? "-"
            : position.ExitStatus == 0
                ? Format("%s in %.1f s", EndWords(position).c_str(), position.Seconds).c_str()
                : Format("%s: %s", EndWords(position).c_str(),
                         position.Reason.substr(0, position.Reason.find('\n')).c_str())
                      .c_str());
    }
    if (!snapshot.Halt.empty()) {
        text += "stopped: " + snapshot.Halt + "\n";
    }
    return text;
}
