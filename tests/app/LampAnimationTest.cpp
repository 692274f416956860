// The lamp thread on its own, driven by stage codes that the test writes: blink pacing, the
// figures it shows, the parked end after a failed disconnect, and the threads and boxes of older
// jobs.

#include "app/core/StatusLampThread.h"
#include "app/qt/CLoaderDlg.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"

#include <QAbstractButton>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(ProgressFigures, PercentAndStatusFormats) {
    EXPECT_EQ(ProgressPercentOf(0, 0), 0);
    EXPECT_EQ(ProgressPercentOf(57, 0), 0);
    EXPECT_EQ(ProgressPercentOf(50, 100), 50);
    EXPECT_EQ(ProgressPercentOf(0x8000, 0x7FFF), 100);
    // The product wraps at 32 bits before the unsigned division.
    EXPECT_EQ(ProgressPercentOf(50'000'000, 1000), 705032);
    EXPECT_EQ(ProgressPercentOf(-1, 100), 42949671);

    EXPECT_EQ(StatusFigure(0, true), "0");
    EXPECT_EQ(StatusFigure(0x200, true), "0X200");
    EXPECT_EQ(StatusFigure(0x7fc0, true), "0X7FC0");
    EXPECT_EQ(StatusFigure(-1, true), "0XFFFFFFFF");
    EXPECT_EQ(StatusFigure(-5, false), "-5");
    EXPECT_EQ(StatusFigure(100, false), "100");
}

class LampThread : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        OpenDialog();
        ProgressTotal = 100;
        ProgressCount = 0;
    }
    void TearDown() override {
        // Ends any lamp thread still polling.
        g_stage = StageConnectFailed;
        DialogFixture::TearDown();
    }
    std::uint32_t Start() {
        const std::uint32_t generation = dialog->Link()->StartJob();
        auto link = dialog->Link();
        link->StartWorker([link, generation] { StatusLampThread(link, generation); });
        return generation;
    }
    std::uint32_t StripLamp(int n) const {
        const QPoint centre = LampCentre(n);
        return dialog->Link()->Strip().Snapshot().At(centre.x(), centre.y());
    }

    struct Phase {
        bool lit;
        milliseconds length;
    };
    // Watches lamp n for the given time and returns the complete phases seen (the first and
    // the last, cut by the window, are left out).
    std::vector<Phase> Watch(int n, milliseconds window) {
        std::vector<Phase> phases;
        const auto end = Clock::now() + window;
        bool lit = StripLamp(n) == (Shown::Lit & 0xFFFFFFu);
        auto since = Clock::now();
        bool first = true;
        while (Clock::now() < end) {
            Pump(3);
            const bool now = StripLamp(n) == (Shown::Lit & 0xFFFFFFu);
            if (now != lit) {
                const auto t = Clock::now();
                if (!first) {
                    phases.push_back({lit, std::chrono::duration_cast<milliseconds>(t - since)});
                }
                first = false;
                lit = now;
                since = t;
            }
        }
        return phases;
    }
};

TEST_F(LampThread, ConnectBlinksFasterThanWriteAndNeitherFasterThanItsPace) {
    g_stage = StageConnect;
    Start();
    const std::vector<Phase> connect = Watch(1, milliseconds(2500));
    g_stage = StageWrite;
    Pump(800);
    const std::vector<Phase> write = Watch(4, milliseconds(3000));

    // A sleep never ends early, but the test sees a change only when it next looks, and a loaded
    // machine may keep it from looking for a while: one phase may seem shorter than its time by
    // that delay, the next longer. Over consecutive phases the delays cancel out but for the two
    // ends, so the phases together last at least their times less one such delay; a loaded
    // machine may stretch each phase, but not to well past three times its time.
    auto paced = [](const std::vector<Phase>& phases, int litMs, int darkMs) {
        milliseconds total{0};
        milliseconds least{0};
        for (const Phase& p : phases) {
            const milliseconds pace(p.lit ? litMs : darkMs);
            if (p.length > 3 * pace + milliseconds(300)) {
                return false;
            }
            total += p.length;
            least += pace;
        }
        return total >= least - milliseconds(150);
    };
    auto mean = [](const std::vector<Phase>& phases) {
        milliseconds total{0};
        for (const Phase& p : phases) {
            total += p.length;
        }
        return total / static_cast<int>(phases.size());
    };
    auto shown = [](const std::vector<Phase>& phases) {
        std::string text;
        for (const Phase& p : phases) {
            text += (p.lit ? " lit " : " dark ") + std::to_string(p.length.count());
        }
        return text;
    };
    ASSERT_GE(connect.size(), 3u);
    ASSERT_GE(write.size(), 3u);
    EXPECT_TRUE(paced(connect, 250, 100)) << shown(connect);
    EXPECT_TRUE(paced(write, 500, 200)) << shown(write);
    // A load that stretches every phase by the same delay keeps the order of their means.
    EXPECT_LT(mean(connect), mean(write)) << shown(connect) << " /" << shown(write);
    // The lamps of earlier stages stay lit while stage 4 blinks.
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(StripLamp(n), Shown::Lit & 0xFFFFFFu) << n;
    }
}

TEST_F(LampThread, StatusShowsTheEraseAddressInHexAndOtherCountsInDecimal) {
    ProgressTotal = 0x7FFF;
    ProgressCount = 0x200;
    g_stage = StageClear;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Text(1004) == QStringLiteral("0X200"); }, 5000));
    EXPECT_EQ(ProgressPercent.load(), 1);
    ProgressTotal = 100;
    ProgressCount = 42;
    g_stage = StageWrite;
    ASSERT_TRUE(WaitUntil([&] { return Text(1004) == QStringLiteral("42"); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Progress() == 42; }, 5000));
}

TEST_F(LampThread, FailedDisconnectParksAfterShowingLampFiveRed) {
    g_stage = StageFinishFailed;
    const auto start = Clock::now();
    Start();
    ASSERT_TRUE(WaitUntil([&] { return g_stage.load() == StageParked; }, 10000));
    EXPECT_GE(Clock::now() - start, milliseconds(500));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(StripLamp(n), Shown::Lit & 0xFFFFFFu) << n;
    }
    EXPECT_EQ(StripLamp(5), Shown::Failed & 0xFFFFFFu);
    WaitForWorkers();
    EXPECT_EQ(Text(1004), QStringLiteral("0% Finished"));
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(Text(1), QStringLiteral("EXIT"));
    EXPECT_TRUE(Enabled(1001));
}

TEST_F(LampThread, WaitingForTheFirstStageDoesNotSpin) {
    g_stage = StageIdle;
    Start();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(milliseconds(1000));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    auto cpu = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec +
               r.ru_stime.tv_usec;
    };
    // A spinning poll would burn a whole second of one core.
    EXPECT_LT(cpu(after) - cpu(before), 400000L);
}

TEST_F(LampThread, CallQueuedByAnOlderJobIsDroppedWhenANewJobStartsBeforeItRuns) {
    const std::uint32_t old = dialog->Link()->StartJob();
    dialog->Link()->SetExitText(old, "EXIT");
    dialog->Link()->EnableFlash(old);
    // A new press, before the queued calls have run.
    dialog->Link()->StartJob();
    Control(1001)->setEnabled(false);
    static_cast<QAbstractButton*>(Control(1))->setText(QStringLiteral("CANCEL"));
    Pump(50);
    EXPECT_EQ(Text(1), QStringLiteral("CANCEL"));
    EXPECT_FALSE(Enabled(1001));
}

TEST_F(LampThread, ThreadOfAnOlderJobStopsWhenANewJobStarts) {
    auto* flash = static_cast<QAbstractButton*>(Control(1001));
    flash->setEnabled(false);
    g_stage = StageWrite;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Text(1004) == QStringLiteral("0"); }, 5000));
    // A new press begins another generation while the old thread still blinks.
    dialog->Link()->StartJob();
    g_stage = StageDone;
    ASSERT_TRUE(WaitUntil([&] { return dialog->Link()->RunningWorkers() == 0; }, 10000));
    Pump(100);
    EXPECT_FALSE(flash->isEnabled());
    EXPECT_NE(Text(1004), QStringLiteral("100 % Finished"));
}

// A job's box still open when the next job starts goes unanswered, and the older job's later
// questions never show; the new job's do.
TEST_F(LampThread, QuestionsOfAnOlderJobGoWhenANewJobStarts) {
    script.Hold(PromptKind::Message);
    const std::shared_ptr<DialogLink> link = dialog->Link();
    auto ask = [link](std::uint32_t job, const char* text) {
        auto accepted = std::make_shared<std::atomic<int>>(-1);
        link->StartWorker([=] {
            *accepted =
                link->Ask(Prompt{PromptKind::Message, text, AppTitle, {}, false, {}, job}).accepted;
        });
        return accepted;
    };
    const std::uint32_t old = link->StartJob();
    const auto open = ask(old, "open");
    ASSERT_TRUE(WaitUntil([&] { return script.HeldCount() == 1; }));

    const std::uint32_t next = link->StartJob();
    ASSERT_TRUE(WaitUntil([&] { return *open == 0; }));
    EXPECT_EQ(script.HeldCount(), 0);
    ASSERT_EQ(script.Closed().size(), 1u);
    EXPECT_EQ(script.Closed().front().text, "open");
    const auto late = ask(old, "late");
    ASSERT_TRUE(WaitUntil([&] { return *late == 0; }));

    const auto current = ask(next, "current");
    ASSERT_TRUE(WaitUntil([&] { return script.HeldCount() == 1; }));
    script.AnswerHeld(true);
    ASSERT_TRUE(WaitUntil([&] { return *current == 1; }));
    EXPECT_EQ(script.Texts(PromptKind::Message),
              (std::vector<QString>{QStringLiteral("open"), QStringLiteral("current")}));
}

} // namespace
