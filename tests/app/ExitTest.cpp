// EXIT in each situation: the questions it asks, the run-mode setting it offers, and a close
// while a job still runs.

#include "link/ComPort.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"
#include "tests/support/CaseName.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>

namespace {

const QString ExitQuestion = QStringLiteral("Are you really want to exit");
const QString RunModeQuestion = QStringLiteral("Korvane 27-05 Run Mode Setting");

class Exit : public DialogFixture {
protected:
    void PressExit() { static_cast<QAbstractButton*>(Control(1))->click(); }
    bool Closed() const { return !dialog->isVisible() && dialog->result() == QDialog::Accepted; }
    bool RunMode() {
        return board.Session().WithBoard([](const Board& b) { return b.RunMode(); });
    }
};

TEST_F(Exit, AtIdleCancelOnTheRunModeQuestionClosesWithoutTouchingTheBoard) {
    script.Answer(PromptKind::OkCancel, false);
    OpenDialog();
    PressExit();

    EXPECT_TRUE(Closed());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel), std::vector<QString>{RunModeQuestion});
    EXPECT_TRUE(script.Texts(PromptKind::PortQuestion).empty());
    EXPECT_FALSE(RunMode());
}

TEST_F(Exit, AtIdleOkConnectsSetsRunModeAndClosesThePort) {
    OpenDialog();
    PressExit();

    EXPECT_TRUE(Closed());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel), std::vector<QString>{RunModeQuestion});
    const std::vector<Prompt> asked = script.Asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].caption, "Tervix");
    EXPECT_TRUE(asked[0].modal);
    EXPECT_EQ(asked[1].text, "COM1");
    EXPECT_TRUE(asked[1].modal) << "the dialog takes no input meanwhile";
    EXPECT_TRUE(RunMode());
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
}

TEST_F(Exit, AtIdleOkWithoutABoardStillClosesAfterTheRunModeWritesFail) {
    linked = true; // no port at all
    OpenDialog();
    PressExit();

    EXPECT_TRUE(Closed());
    EXPECT_TRUE(script.Texts(PromptKind::PortQuestion).empty());
    EXPECT_EQ(TargetProfile.PortHandle.load(), InvalidComHandle);
}

// A board that takes the connection but never answers a run-mode write: each setting spends
// all its attempts, and the dialog's loop keeps running (and painting), taking no input, until
// both are over.
TEST_F(Exit, AtIdleOkAgainstASilentBoardTriesRunModeTwiceWhileTheDialogPaints) {
    board.Mute(5);
    OpenDialog();
    auto writes = [&] { return board.Session().Stats().RequestsByCommand[5]; };
    int ticksDuringWrites = 0;
    QString statusMeanwhile;
    bool busyCursorMeanwhile = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        dialog->repaint();
        if (writes() > 0 && writes() < 18 && ++ticksDuringWrites == 1) {
            statusMeanwhile = Text(1004);
            const QCursor* cursor = QApplication::overrideCursor();
            busyCursorMeanwhile = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
            // Input meanwhile must not start a job under the setting.
            QTest::mouseClick(Control(1001), Qt::LeftButton);
        }
    });
    tick.start(30);

    PressExit();

    EXPECT_TRUE(Closed());
    EXPECT_GT(ticksDuringWrites, 1);
    // Nine attempts each, by the profile's count of retries.
    EXPECT_EQ(writes(), 18u);
    EXPECT_TRUE(Enabled(1001)) << "a job was started";
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
    // The wait said what it waits for, in full, and showed the busy cursor until it was over.
    EXPECT_EQ(statusMeanwhile, QStringLiteral("Setting run mode..."));
    EXPECT_LE(QFontMetrics(Control(1004)->font()).horizontalAdvance(statusMeanwhile),
              Control(1004)->contentsRect().width());
    EXPECT_TRUE(busyCursorMeanwhile);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Exit, AfterASuccessfulJobAsksNothing) {
    script.Answer(PromptKind::OpenHexFile, true, WriteHexFile());
    OpenDialog();
    RunJob();
    ASSERT_EQ(g_stage.load(), StageDone);
    const std::size_t before = script.Asked().size();

    PressExit();

    EXPECT_TRUE(Closed());
    EXPECT_EQ(script.Asked().size(), before);
}

TEST_F(Exit, AfterAFailedJobCancelKeepsTheDialogAndOkClosesWithoutRunModeQuestion) {
    script.Answer(PromptKind::OpenHexFile, false);
    OpenDialog();
    RunJob();
    ASSERT_EQ(g_stage.load(), StageNoFile);
    ASSERT_EQ(TargetProfile.Connected.load(), 1);

    script.Answer(PromptKind::OkCancel, false);
    PressExit();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(g_stage.load(), StageNoFile);
    EXPECT_EQ(TargetProfile.Connected.load(), 1);
    EXPECT_EQ(Text(1004), QStringLiteral("0% Finished"));

    script.Answer(PromptKind::OkCancel, true);
    PressExit();
    EXPECT_TRUE(Closed());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel),
              (std::vector<QString>{ExitQuestion, ExitQuestion}));
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
    EXPECT_FALSE(RunMode());
}

TEST_F(Exit, WhileAJobRunsClosesAndLeavesTheThreadsNothingToTouch) {
    script.Hold(PromptKind::OpenHexFile);
    OpenDialog();
    static_cast<QAbstractButton*>(Control(1001))->click();
    ASSERT_TRUE(WaitUntil([&] { return script.HeldCount() == 1; }));
    EXPECT_EQ(Text(1), QStringLiteral("CANCEL"));

    PressExit();
    ASSERT_TRUE(Closed());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel), std::vector<QString>{ExitQuestion});
    EXPECT_EQ(TargetProfile.Connected.load(), 0);
    const LampStrip::Pixels atClose = dialog->Link()->Strip().Snapshot();
    const QString statusAtClose = Text(1004);

    // The job's file dialog went with the dialog: the job ends on its own.
    EXPECT_EQ(script.HeldCount(), 0);
    ASSERT_TRUE(WaitUntil([&] { return dialog->Link()->RunningWorkers() == 0; }));
    Pump(50);
    EXPECT_EQ(g_stage.load(), StageNoFile);
    EXPECT_EQ(dialog->Link()->Strip().Snapshot(), atClose);
    EXPECT_EQ(Text(1004), statusAtClose);
}

// Flash has the keyboard focus again once a job's end enables it: Space, meant for a second
// board, starts the next job and never reaches EXIT.
struct JobEnd {
    std::string name;
    std::function<void(PromptScript&, bool& linked)> arrange;
    std::int32_t stage;
    friend void PrintTo(const JobEnd& c, std::ostream* out) { *out << c.name; }
};

class AfterAJob : public Exit, public testing::WithParamInterface<JobEnd> {};

TEST_P(AfterAJob, SpaceStartsTheNextJobRatherThanExit) {
    GetParam().arrange(script, linked);
    OpenDialog();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    EXPECT_EQ(dialog->focusWidget(), Control(1)) << "the template's first tab stop";
    RunJob();
    ASSERT_EQ(g_stage.load(), GetParam().stage);
    ASSERT_EQ(dialog->focusWidget(), Control(1001));

    script.Hold(PromptKind::PortQuestion);
    script.Hold(PromptKind::OpenHexFile);
    const std::size_t asked = script.Texts(PromptKind::OkCancel).size();
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Space);

    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel).size(), asked);
    EXPECT_FALSE(Enabled(1001));
    EXPECT_EQ(Text(1), QStringLiteral("CANCEL"));
}

INSTANTIATE_TEST_SUITE_P(
    Exit, AfterAJob,
    testing::Values(JobEnd{"Success",
                           [](PromptScript& s, bool&) {
                               s.Answer(PromptKind::OpenHexFile, true,
                                        QString::fromLatin1(TERVIX_HOSTILE_CORPUS "/cr_only.hex"));
                           },
                           StageDone},
                    // Flash enabled by the job itself, then again by the lamp thread.
                    JobEnd{"NoPort", [](PromptScript&, bool& linked) { linked = true; },
                           StageConnectFailed},
                    // Flash enabled by the lamp thread alone.
                    JobEnd{"FileCancelled",
                           [](PromptScript& s, bool&) { s.Answer(PromptKind::OpenHexFile, false); },
                           StageNoFile}),
    CaseName());

TEST_F(Exit, WindowCloseIsHandledLikeExitAndEscapeDoesNothing) {
    script.Answer(PromptKind::OkCancel, false);
    OpenDialog();

    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(script.Asked().empty());

    dialog->close();
    EXPECT_TRUE(Closed());
    EXPECT_EQ(script.Texts(PromptKind::OkCancel), std::vector<QString>{RunModeQuestion});
}

} // namespace
