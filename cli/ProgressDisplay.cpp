#include "cli/ProgressDisplay.h"

#include "cli/Console.h"
#include "cli/Interruption.h"
#include "cli/Messages.h"
#include "line/ChildReport.h"
#include "target/TargetProfile.h"

#include <algorithm>

namespace {

constexpr int BarWidth = 30;
constexpr auto BarPeriod = std::chrono::milliseconds(100);
constexpr auto LinePeriod = std::chrono::milliseconds(250);

// "1:05" for 65 seconds.
std::string FormatDuration(double seconds) {
    auto whole = static_cast<long>(seconds + 0.5);
    return Format("%ld:%02ld", whole / 60, whole % 60);
}

} // namespace

ProgressDisplay::Mode ProgressDisplay::ModeFor(std::FILE* out, bool quiet) {
    if (quiet) {
        return Mode::Off;
    }
    return OutputRedraws(out) ? Mode::Bar : Mode::Lines;
}

ProgressDisplay::ProgressDisplay(Mode mode, std::FILE* out) : mode_(mode), out_(out) {
    if (mode_ != Mode::Off) {
        thread_ = std::thread([this] { Run(); });
    }
}

ProgressDisplay::~ProgressDisplay() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ProgressDisplay::Begin(const ProgressStage& stage) {
    NoteStage(stage.Name);
    std::lock_guard<std::mutex> guard(lock_);
    stage_ = stage;
    started_ = std::chrono::steady_clock::now();
    lastStep_ = -1;
    active_ = true;
    if (mode_ != Mode::Off && !suspended_) {
        DrawLocked(false, false);
    }
}

void ProgressDisplay::End(bool succeeded) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!active_) {
        return;
    }
    active_ = false;
    if (mode_ == Mode::Off) {
        return;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (mode_ == Mode::Bar) {
        DrawLocked(true, succeeded);
        std::fprintf(out_, "  %s\n", succeeded ? "done" : "FAILED");
    } else {
        std::fprintf(out_, "%s\n", StageEndLine(stage_.Name, succeeded, seconds).c_str());
    }
    std::fflush(out_);
}

void ProgressDisplay::Suspend() {
    std::lock_guard<std::mutex> guard(lock_);
    suspended_ = true;
    if (mode_ == Mode::Bar && active_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
    }
}

void ProgressDisplay::Resume() {
    std::lock_guard<std::mutex> guard(lock_);
    suspended_ = false;
}

void ProgressDisplay::Run() {
    std::unique_lock<std::mutex> guard(lock_);
    const auto period = mode_ == Mode::Lines ? LinePeriod : BarPeriod;
    while (!stopping_) {
        wake_.wait_for(guard, period);
        if (active_ && !suspended_ && !stopping_) {
            DrawLocked(false, false);
        }
    }
}

void ProgressDisplay::DrawLocked(bool final, bool complete) {
    const std::int64_t count = ProgressCount.load(std::memory_order_relaxed);
    const std::int64_t total = ProgressTotal.load(std::memory_order_relaxed);
    const std::int64_t all = std::max<std::int64_t>(total + stage_.Extra - stage_.Base, 0);
    const std::int64_t done = std::clamp<std::int64_t>(count - stage_.Base, 0, all);
    // A total of 0 means not known yet. A stage that ended well shows full even when its count
    // stops short of the total (blank lines of a HEX file count in the total, not as records).
    const double fraction = complete  ? 1.0
                            : all > 0 ? static_cast<double>(done) / static_cast<double>(all)
                                      : 0.0;
    const int percent = static_cast<int>(fraction * 100.0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();

    if (mode_ != Mode::Bar) {
        const int step = mode_ == Mode::Lines ? percent / 25 : percent;
        if (step != lastStep_) {
            lastStep_ = step;
            std::fprintf(out_, "%s\n", ProgressLine(stage_.Name, percent).c_str());
            std::fflush(out_);
        }
        return;
    }

    std::string bar(BarWidth, '-');
    std::fill_n(bar.begin(), static_cast<int>(fraction * BarWidth), '#');
    std::string line = Format("\r%-8s [%s] %3d %%", stage_.Name, bar.c_str(), percent);
    if (*stage_.Unit != '\0' && seconds > 0.2 && done > 0) {
        const double rate = static_cast<double>(done) / seconds;
        if (rate >= 1000.0) {
            line += Format("  %7.1f k%s/s", rate / 1000.0, stage_.Unit);
        } else {
            line += Format("  %7.1f %s/s", rate, stage_.Unit);
        }
        if (!final) {
            line += "  " + FormatDuration(static_cast<double>(all - done) / rate) + " left";
        }
    }
    line += "\033[K";
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}
