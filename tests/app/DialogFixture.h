#pragma once
// The main dialog under test with a scripted user, a board on a pseudo-terminal and a fresh
// working folder (the job writes "temp.log" there).

#include "app/qt/CLoaderDlg.h"
#include "tests/app/PtyBoard.h"
#include "tests/app/ScriptedPrompts.h"
#include "tests/support/PortsFolder.h"
#include "tests/support/WorkingFolder.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// The lamp colours and the strip's grey as the user must see them, written out here rather than
// taken from the program.
// As 0x00RRGGBB, the core's colours; a pixel read from the screen is masked to compare.
namespace Shown {
inline constexpr std::uint32_t Off = 0x9B9B9B;
inline constexpr std::uint32_t Lit = 0xDCFF00;
inline constexpr std::uint32_t Failed = 0xFF0000;
inline constexpr std::uint32_t Done = 0x00FF00;
inline constexpr std::uint32_t Connected = 0x0000FF;
inline constexpr std::uint32_t Grey = 0xC0C0C0;
} // namespace Shown

// The centre of lamp n's box, in client pixels.
QPoint LampCentre(int n);

// Lets the dialog's event loop run until pred holds; false after timeoutMs. The bounds are
// generous: they only keep a broken program from hanging the test run.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 30000);
// Lets the event loop run for a while.
void Pump(int ms);

class DialogFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the dialog; the board is linked as COM1 unless linked otherwise first.
    void OpenDialog();
    // Writes a HEX file of a few rows from 0x200 on (one crossing a row boundary); returns its
    // path.
    QString WriteHexFile(const std::string& name = "blink.hex");
    // Presses Flash and waits until the job and its lamp thread are over.
    void RunJob();
    void WaitForWorkers();

    QWidget* Control(int id) const { return dialog->Control(id); }
    QString Text(int id) const;
    bool Enabled(int id) const;
    int Progress() const;
    // The colour at the centre of lamp n as the dialog paints it.
    QRgb LampOnScreen(int n) const;
    // True when every pixel inside lamp n's outline is the colour, as painted.
    bool LampFilledWith(int n, QRgb color) const;

    WorkingFolder scratch;
    PortsFolder ports;
    PtyBoard board;
    PromptScript script;
    bool toolkitBoxes = false; // the program's own boxes and file dialog instead of the script
    std::unique_ptr<CLoaderDlg> dialog;
    bool linked = false;
    // A short read time-out for a board silenced after the port opens; a muted board gets it
    // anyway.
    bool quickTimeOut = false;
    std::map<std::uint32_t, std::uint8_t> image; // what WriteHexFile wrote, by address
};

// A whole flash job: how the dialog ends it.
inline const QString ConnectFailedBox = QStringLiteral(
    "Please Check (1) Cable Wired or not? (2) PC COM Port Correct or not ?(3)PIC Chip Correct or "
    "not ?");

class FlashJob : public DialogFixture {
protected:
    void ExpectEndLamps(int failedLamp) {
        for (int n = 1; n < failedLamp; ++n) {
            EXPECT_TRUE(LampFilledWith(n, Shown::Lit)) << "lamp " << n;
        }
        EXPECT_TRUE(LampFilledWith(failedLamp, Shown::Failed)) << "lamp " << failedLamp;
        for (int n = failedLamp + 1; n <= LampCount; ++n) {
            EXPECT_TRUE(LampFilledWith(n, Shown::Off)) << "lamp " << n;
        }
    }
    void ExpectFailedEnd() {
        EXPECT_EQ(Text(1004), QStringLiteral("0% Finished"));
        EXPECT_EQ(Progress(), 0);
        EXPECT_EQ(Text(1), QStringLiteral("EXIT"));
        EXPECT_TRUE(Enabled(1));
        EXPECT_TRUE(Enabled(1001));
    }
};
