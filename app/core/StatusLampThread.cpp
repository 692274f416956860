#include "app/core/StatusLampThread.h"

#include "app/core/DialogLink.h"
#include "app/core/ThreadPriority.h"
#include "target/TargetProfile.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using std::chrono::milliseconds;

struct BlinkTiming {
    bool hex;
    milliseconds lit;
    milliseconds dark;
};

// Stage 1 blinks faster so that the scan for a port looks busy.
BlinkTiming TimingOf(std::int32_t stage) {
    if (stage == StageConnect) {
        return {false, milliseconds(250), milliseconds(100)};
    }
    return {stage == StageClear, milliseconds(500), milliseconds(200)};
}

// The lamp of the step that failed, for each end code; 0 for none.
int FailedLampOf(std::int32_t stage) {
    switch (stage) {
    case StageConnectFailed:
        return 1;
    case StageNoFile:
        return 2;
    case StageClearFailed:
        return 3;
    case StageWriteFailed:
        return 4;
    default:
        return 0;
    }
}

void ShowCounters(DialogLink& link, std::uint32_t generation, bool hex) {
    const std::int32_t count = ProgressCount.load(std::memory_order_relaxed);
    const std::int32_t percent =
        ProgressPercentOf(count, ProgressTotal.load(std::memory_order_relaxed));
    ProgressPercent.store(percent, std::memory_order_relaxed);
    link.SetStatus(generation, StatusFigure(count, hex));
    link.SetProgress(generation, percent);
}

} // namespace

std::int32_t ProgressPercentOf(std::int32_t count, std::int32_t total) {
    if (total == 0) {
        return 0;
    }
    const std::uint32_t product = static_cast<std::uint32_t>(count) * 100u;
    return static_cast<std::int32_t>(product / static_cast<std::uint32_t>(total));
}

std::string StatusFigure(std::int32_t value, bool hex) {
    if (!hex) {
        return std::to_string(value);
    }
    // The C library's alternative form is the figure's own: "0" alone for zero.
    char text[16];
    std::snprintf(text, sizeof text, "%#X",
                  static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    return text;
}

std::uint32_t StatusLampThread(std::shared_ptr<DialogLink> link, std::uint32_t generation) {
    LowerOwnPriority();
    std::int32_t s = 0;
    for (;;) {
        if (!link->Current(generation)) {
            return 0;
        }
        s = g_stage.load(std::memory_order_relaxed);
        if (s < 0) {
            break;
        }
        if (s >= StageConnect && s <= StageWrite) {
            const BlinkTiming timing = TimingOf(s);
            ShowCounters(*link, generation, timing.hex);
            for (int lamp = 1; lamp <= s; ++lamp) {
                link->DrawLamp(generation, lamp, ColorLampLit);
            }
            link->Repaint(generation);
            std::this_thread::sleep_for(timing.lit);
            link->DrawLamp(generation, s, ColorLampOff);
            link->Repaint(generation);
            std::this_thread::sleep_for(timing.dark);
        } else if (s == StageFinishFailed) {
            ShowCounters(*link, generation, true);
            for (int lamp = 1; lamp <= 4; ++lamp) {
                link->DrawLamp(generation, lamp, ColorLampLit);
            }
            link->Repaint(generation);
            std::this_thread::sleep_for(milliseconds(500));
            link->DrawLamp(generation, 5, ColorLampFailed);
            link->Repaint(generation);
            if (!link->Current(generation)) {
                return 0;
            }
            g_stage.store(StageParked, std::memory_order_relaxed);
        } else {
            // Between the Flash press and the job's first stage: wait without spinning a core.
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    if (s == StageDone) {
        for (int lamp = 1; lamp <= LampCount; ++lamp) {
            link->DrawLamp(generation, lamp, ColorLampLit);
        }
    } else if (const int failed = FailedLampOf(s); failed != 0) {
        for (int lamp = 1; lamp < failed; ++lamp) {
            link->DrawLamp(generation, lamp, ColorLampLit);
        }
        if (failed > 1) {
            link->Repaint(generation);
        }
        link->DrawLamp(generation, failed, ColorLampFailed);
    }

    if (g_stage.load(std::memory_order_relaxed) == StageDone) {
        link->SetProgress(generation, 100);
        link->SetStatus(generation, "100 % Finished");
    } else {
        link->SetProgress(generation, 0);
        link->SetStatus(generation, "0% Finished");
    }
    link->SetExitText(generation, "EXIT");
    link->EnableExit(generation);
    link->Repaint(generation);
    std::this_thread::sleep_for(milliseconds(1000));
    link->EnableFlash(generation);
    link->Repaint(generation);
    return 0;
}
