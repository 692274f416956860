// The dialogs as they open: texts, controls and their identities, sizes from dialog units,
// window decorations, the About box and the hidden Connect handler.

#include "app/qt/CAboutDlg.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/LampImage.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
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
        EXPECT_TRUE(LampFilledWith(n, Shown::Off)) << n;
    }
    // The settings were loaded.
    EXPECT_EQ(TargetProfile.Retries.load(), 9);

    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
}

// Every visible text fits its control in the dialog's font.
void ExpectTextsFit(const QWidget& dialog) {
    const QFontMetrics metrics(dialog.font());
    for (const QWidget* control : dialog.findChildren<QWidget*>()) {
        QString text;
        if (const auto* label = qobject_cast<const QLabel*>(control)) {
            text = label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(control)) {
            text = button->text();
        }
        if (!control->isHidden() && !text.isEmpty()) {
            EXPECT_LE(metrics.horizontalAdvance(text), control->contentsRect().width())
                << text.toStdString();
            EXPECT_LE(metrics.height(), control->contentsRect().height()) << text.toStdString();
        }
    }
}

// The layout follows Arial Black 8 pt on Windows at 96 DPI (8 x 15 pixels per character),
// whatever font is installed, so that the labels meet the lamps, which stand at fixed pixels.
TEST_F(Dialog, ControlsArePlacedInWindowsUnitsWithEachLabelBesideItsLamp) {
    OpenDialog();
    // 155 x 65 units are 310 x 122 pixels, made tall enough for the strip (20 + 105).
    EXPECT_EQ(dialog->size(), QSize(310, 125));
    const std::pair<int, QRect> controls[] = {{1, QRect(164, 53, 132, 32)},
                                              {1001, QRect(164, 11, 132, 32)},
                                              {1003, QRect(120, 17, 24, 88)},
                                              {1004, QRect(152, 88, 144, 17)}};
    for (const auto& [id, pixels] : controls) {
        EXPECT_EQ(Control(id)->geometry(), pixels) << id;
    }
    // A lamp is 11 pixels across, centred at 25, 43, 61, 79 and 97.
    const int labels[] = {1005, 1006, 1007, 1009, 1010};
    for (int n = 1; n <= LampCount; ++n) {
        const QRect label = Control(labels[n - 1])->geometry();
        EXPECT_EQ(label.left(), 40) << n;
        const double centre = label.top() + label.height() / 2.0;
        EXPECT_NEAR(centre, 25 + 18 * (n - 1), 4.0) << "label " << labels[n - 1];
    }
    // Windows' rounding: 155 units at an average width of 7 pixels are 271.25 -> 271.
    EXPECT_EQ(DialogUnitsToPixels(QRect(82, 28, 155, 65), {7, 16}), QRect(144, 56, 271, 130));
    EXPECT_EQ(static_cast<QProgressBar*>(Control(1003))->orientation(), Qt::Vertical);

    // Drawn in a heavy face, as the template's is.
    EXPECT_GE(QFontInfo(dialog->font()).weight(), QFont::Bold);
    ExpectTextsFit(*dialog);
}

TEST_F(Dialog, HiddenConnectButtonPaintsAllLampsBlueAndShowsThePortIndex) {
    ports.Link("COM2", board.DevicePath());
    linked = true;
    OpenDialog();
    dialog->OnConnect();

    EXPECT_EQ(Text(1004), QStringLiteral("1"));
    for (int n = 1; n <= LampCount; ++n) {
        EXPECT_TRUE(LampFilledWith(n, Shown::Connected)) << n;
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

// The job's boxes report on the lamps and the status line: they open beside the dialog, on the
// side where the screen has room, and show their whole caption.
class MessageBoxes : public testing::TestWithParam<bool> {};

TEST_P(MessageBoxes, OpenBesideTheDialogWideEnoughForTheirCaption) {
    const bool dialogAtRightEdge = GetParam();
    CLoaderDlg owner; // with the toolkit's boxes
    owner.show();
    const QRect screen = owner.screen()->availableGeometry();
    owner.move(dialogAtRightEdge ? screen.right() + 1 - owner.frameGeometry().width() - 20
                                 : screen.left() + 20,
               screen.top() + 40);
    const Prompt prompts[] = {
        {PromptKind::PortQuestion, "COM3", "Serial Port Selected?", "/dev/pts/7", false, {}},
        {PromptKind::OkCancel, "Are you really want to exit", "Tervix", {}, true, {}}};
    for (const Prompt& prompt : prompts) {
        owner.ShowPrompt(prompt, [](const PromptAnswer&) {});
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible()) {
                box = b;
            }
        }
        ASSERT_NE(box, nullptr) << prompt.caption;
        const QRect dialog = owner.frameGeometry();
        const QRect beside = box->frameGeometry();
        EXPECT_TRUE(dialogAtRightEdge ? beside.right() < dialog.left()
                                      : beside.left() > dialog.right());
        EXPECT_TRUE(screen.contains(beside));
        // The caption in a bold title face, with room for the title bar's icon and buttons.
        QFont title = box->font();
        title.setBold(true);
        EXPECT_GE(box->width(),
                  QFontMetrics(title).horizontalAdvance(QString::fromStdString(prompt.caption)) +
                      100)
            << prompt.caption;
        box->close();
    }
}

INSTANTIATE_TEST_SUITE_P(Dialog, MessageBoxes, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) {
                             return std::string(param.param ? "AtRightEdge" : "AtLeftEdge");
                         });

// The program's own boxes on the screen it gets, however small: each leaves the lamps in view
// and covers no other box; the file dialog fits with its name field and buttons; and Flash takes
// away a box of the job before. CI runs this suite on an 800 x 600 screen at scale 2 as well.
class OnScreen : public DialogFixture {
protected:
    template <class Kind> static std::vector<Kind*> Shown() {
        std::vector<Kind*> shown;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* k = qobject_cast<Kind*>(w); k != nullptr && k->isVisible()) {
                shown.push_back(k);
            }
        }
        return shown;
    }

    static QMessageBox* BoxSaying(const QString& start) {
        for (QMessageBox* box : Shown<QMessageBox>()) {
            if (box->text().startsWith(start)) {
                return box;
            }
        }
        return nullptr;
    }

    QMessageBox* AwaitBox(const QString& start) {
        QMessageBox* box = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (box = BoxSaying(start)) != nullptr; }))
            << start.toStdString();
        return box;
    }

    QRect Screen() const { return dialog->screen()->availableGeometry(); }

    // On the screen, clear of the lamp strip and of every other box shown.
    void ExpectInView(const QWidget* box) const {
        const QRect frame = box->frameGeometry();
        const QRect strip = ToQRect(LampStrip::ValidArea());
        EXPECT_TRUE(Screen().contains(frame)) << box->windowTitle().toStdString();
        EXPECT_FALSE(frame.intersects(QRect(dialog->mapToGlobal(strip.topLeft()), strip.size())))
            << box->windowTitle().toStdString();
        for (const QMessageBox* other : Shown<QMessageBox>()) {
            EXPECT_TRUE(other == box || !frame.intersects(other->frameGeometry()))
                << box->windowTitle().toStdString();
        }
    }

    void ExpectReachable(const QWidget* part) const {
        ASSERT_NE(part, nullptr);
        EXPECT_TRUE(part->isVisible());
        EXPECT_TRUE(Screen().contains(QRect(part->mapToGlobal(QPoint(0, 0)), part->size())))
            << part->objectName().toStdString();
    }
};

TEST_F(OnScreen, EachBoxLeavesTheLampsInViewAndTheNextJobTakesItAway) {
    toolkitBoxes = true;
    OpenDialog();
    // Where the user left it: against the screen's right edge.
    dialog->move(Screen().right() + 1 - dialog->frameGeometry().width(), dialog->y());
    const QString refused = QStringLiteral(TERVIX_HOSTILE_CORPUS "/two_per_line.hex");
    auto* flash = static_cast<QAbstractButton*>(Control(1001));
    flash->click();

    QMessageBox* port = AwaitBox(QStringLiteral("COM1"));
    ASSERT_NE(port, nullptr);
    ExpectInView(port);
    port->button(QMessageBox::Yes)->click();
    QMessageBox* check = AwaitBox(QStringLiteral("Check whether COM1 port is OK!"));
    ASSERT_NE(check, nullptr);
    ExpectInView(check);

    // EXIT's question opens beside the job's box, and waits in a loop of its own.
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (QMessageBox* sure = BoxSaying(QStringLiteral("Are you really want to exit"))) {
            asked = true;
            ExpectInView(sure);
            ExpectInView(check);
            sure->button(QMessageBox::Cancel)->click();
        }
    });
    answer.start(20);
    static_cast<QAbstractButton*>(Control(1))->click();
    answer.stop();
    EXPECT_TRUE(asked);
    check->button(QMessageBox::Ok)->click();

    ASSERT_TRUE(WaitUntil([&] { return !Shown<QFileDialog>().empty(); }));
    QFileDialog* files = Shown<QFileDialog>().front();
    EXPECT_TRUE(Screen().contains(files->frameGeometry()));
    ExpectReachable(files->findChild<QWidget*>(QStringLiteral("fileNameEdit")));
    ExpectReachable(files->findChild<QWidget*>(QStringLiteral("buttonBox")));
    // Typed into the name field, then Open, as the user does.
    files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(refused);
    files->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
        ->button(QDialogButtonBox::Open)
        ->click();
    const QPointer<QMessageBox> refusal = AwaitBox(refused);
    ASSERT_FALSE(refusal.isNull());
    ExpectInView(refusal);

    // Flash while the refusal is still open: it goes before the next job's first box.
    ASSERT_TRUE(WaitUntil([&] { return flash->isEnabled(); }));
    flash->click();
    ASSERT_NE(AwaitBox(QStringLiteral("Check whether COM1 port is OK!")), nullptr);
    EXPECT_TRUE(refusal.isNull() || !refusal->isVisible());
    EXPECT_EQ(Shown<QMessageBox>().size(), 1u);
    BoxSaying(QStringLiteral("Check whether"))->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitUntil([&] { return !Shown<QFileDialog>().empty(); }));
    Shown<QFileDialog>().front()->reject();
    WaitForWorkers();
    EXPECT_EQ(g_stage.load(), StageNoFile);
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
    // MS Sans Serif 8 pt on Windows at 96 DPI: 6 x 13 pixels per character.
    EXPECT_EQ(about.size(), QSize(353, 89));
    EXPECT_EQ(ok->geometry(), QRect(267, 11, 75, 23));
    ExpectTextsFit(about);
}

} // namespace
