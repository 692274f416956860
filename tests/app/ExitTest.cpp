// EXIT in each situation: the questions it asks, the run-mode setting it offers, and a close
// while a job still runs.

#include "link/ComPort.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

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
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        dialog->repaint();
        if (writes() > 0 && writes() < 18 && ++ticksDuringWrites == 1) {
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
