// The dialogs as they open: texts, controls and their identities, sizes from dialog units,
// window decorations, the About box and the hidden Connect handler.

#include "app/CAboutDlg.h"
#include "app/DialogUnits.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

namespace {

class Dialog : public DialogFixture {};

TEST_F(Dialog, StartsWithGreyLampsBannerAndTheTwoButtons) {
    g_stage = StageDone;
    ProgressPercent = 55;
    OpenDialog();

    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Korvane Flasher Ver.1.0"));
    EXPECT_EQ(g_stage.load(), StageIdle);
    EXPECT_EQ(ProgressPercent.load(), 0);
    EXPECT_EQ(Progress(), 0);
    EXPECT_EQ(Text(1004), QString::fromLatin1(StartupBanner));
    EXPECT_EQ(Text(1), QStringLiteral("EXIT"));
    EXPECT_EQ(Text(1001), QStringLiteral("Flash"));
    EXPECT_TRUE(Enabled(1) && Control(1)->isVisible());
    EXPECT_TRUE(Enabled(1001) && Control(1001)->isVisible());
    for (int id : {2, 1000, 1002}) {
        EXPECT_FALSE(Control(id)->isVisible()) << id;
        EXPECT_FALSE(Enabled(id)) << id;
    }
    const std::pair<int, const char*> labels[] = {
        {1005, "Connect"}, {1006, "Hex Input"}, {1007, "Clear"}, {1009, "Write"}, {1010, "Finish"}};
    for (const auto& [id, text] : labels) {
        EXPECT_EQ(Text(id), QString::fromLatin1(text)) << id;
    }
    for (int n = 1; n <= LampCount; ++n) {
        EXPECT_TRUE(LampFilledWith(n, ColorLampOff)) << n;
    }
    // The settings were loaded.
    EXPECT_EQ(TargetProfile.Retries.load(), 9);

    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
}

TEST_F(Dialog, ControlsArePlacedFromDialogUnitsWithTheDialogFont) {
    OpenDialog();
    const DialogBaseUnits base = BaseUnitsOf(dialog->font());
    ASSERT_GT(base.charWidth, 0);
    EXPECT_EQ(dialog->size(), DialogUnitsToPixels(QSize(155, 65), base));
    const std::pair<int, QRect> controls[] = {
        {1, QRect(82, 28, 66, 17)},    {1001, QRect(82, 6, 66, 17)},
        {1003, QRect(60, 9, 12, 47)},  {1004, QRect(76, 47, 72, 9)},
        {1005, QRect(20, 6, 25, 11)},  {1006, QRect(20, 17, 32, 11)},
        {1007, QRect(20, 27, 35, 10)}, {1009, QRect(20, 37, 25, 10)},
        {1010, QRect(20, 47, 25, 10)}};
    for (const auto& [id, units] : controls) {
        EXPECT_EQ(Control(id)->geometry(), DialogUnitsToPixels(units, base)) << id;
    }
    // Windows' rounding: 155 units at an average width of 7 pixels are 271.25 -> 271.
    EXPECT_EQ(DialogUnitsToPixels(QRect(82, 28, 155, 65), {7, 16}), QRect(144, 56, 271, 130));
    EXPECT_EQ(static_cast<QProgressBar*>(Control(1003))->orientation(), Qt::Vertical);
}

TEST_F(Dialog, HiddenConnectButtonPaintsAllLampsBlueAndShowsThePortIndex) {
    ports.Link("COM2", board.DevicePath());
    linked = true;
    OpenDialog();
    dialog->OnConnect();

    EXPECT_EQ(Text(1004), QStringLiteral("1"));
    for (int n = 1; n <= LampCount; ++n) {
        EXPECT_TRUE(LampFilledWith(n, ColorLampConnected)) << n;
    }
    EXPECT_EQ(TargetProfile.Connected.load(), 1);
}

TEST_F(Dialog, ContextMenuOpensTheAboutBox) {
    OpenDialog();
    QString item;
    QString aboutTitle;
    // The menu and the About box each run their own loop; answer them from timers.
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || menu->actions().isEmpty()) {
            return;
        }
        item = menu->actions().front()->text();
        QTimer::singleShot(50, [&] {
            if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                aboutTitle = about->windowTitle();
                about->accept();
            }
        });
        menu->setActiveAction(menu->actions().front());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 50),
                            dialog->mapToGlobal(QPoint(100, 50)));
    QApplication::sendEvent(dialog.get(), &event);

    EXPECT_EQ(item, QStringLiteral("&About Tervix..."));
    EXPECT_EQ(aboutTitle, QStringLiteral("About Tervix"));
    EXPECT_TRUE(dialog->isVisible());
}

TEST(AboutBox, ShowsIconVersionAndOk) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Tervix"));
    const QList<QLabel*> labels = about.findChildren<QLabel*>();
    bool version = false;
    bool icon = false;
    for (const QLabel* label : labels) {
        version |= label->text() == QStringLiteral("Korvane Flash Version 0.9");
        icon |= label->pixmap().size() == QSize(32, 32);
    }
    EXPECT_TRUE(version);
    EXPECT_TRUE(icon);
    QWidget* ok = FindControl(&about, 1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(static_cast<QAbstractButton*>(ok)->text(), QStringLiteral("OK"));
    EXPECT_EQ(about.size(), DialogUnitsToPixels(QSize(235, 55), BaseUnitsOf(about.font())));
}

} // namespace
