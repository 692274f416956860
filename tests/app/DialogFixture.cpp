#include "tests/app/DialogFixture.h"

#include "app/core/LampStrip.h"
#include "app/qt/LampImage.h"
#include "target/Connection.h"
#include "target/HexWriter.h"
#include "target/TargetProfile.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

#include <chrono>
#include <thread>
#include <vector>

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    WaitUntil([&] { return std::chrono::steady_clock::now() >= end; }, ms + 1000);
}

void DialogFixture::SetUp() {
    ASSERT_TRUE(board.Ok());
    script.Answer(PromptKind::PortQuestion, true);
    script.Answer(PromptKind::Message, true);
    script.Answer(PromptKind::OkCancel, true);
}

void DialogFixture::OpenDialog() {
    if (!linked) {
        ports.Link("COM1", board.DevicePath());
    }
    dialog = std::make_unique<CLoaderDlg>(toolkitBoxes ? MakeBoxPrompts() : script.MakeHost());
    dialog->show();
    // A board that withholds replies costs a read time-out per attempt: a short one keeps those
    // tests quick. The others keep the program's own, since the board's thread may pause for
    // longer than a short one on a loaded machine: the job then sends again, and the late reply
    // is taken as the answer to the next request, which leaves every later read-back with the
    // reply of the request before it.
    if (quickTimeOut || board.Muted()) {
        TargetProfile.ReadTimeoutMs = 100;
    }
}

void DialogFixture::TearDown() {
    if (dialog) {
        WaitForWorkers();
        dialog.reset();
    }
    DisconnectTarget();
    g_stage = StageIdle;
}

void DialogFixture::WaitForWorkers() {
    // Held prompts would keep the job waiting for ever.
    while (script.AnswerHeld(false)) {
    }
    EXPECT_TRUE(WaitUntil([&] {
        while (script.AnswerHeld(false)) {
        }
        return dialog->Link()->RunningWorkers() == 0;
    }));
    QCoreApplication::processEvents();
}

QString DialogFixture::WriteHexFile(const std::string& name) {
    HexWriter writer;
    std::vector<std::uint8_t> data(40);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0x10 + 7 * i);
    }
    // 0x208 to 0x22F: the first record straddles two 16-byte rows.
    writer.Add(0x208, data.data(), 20);
    writer.Add(0x21C, data.data() + 20, 20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        image[static_cast<std::uint32_t>(0x208 + i)] = data[i];
    }
    return QString::fromStdString(scratch.Create(name, writer.Finish()));
}

void DialogFixture::RunJob() {
    static_cast<QAbstractButton*>(Control(1001))->click();
    WaitForWorkers();
}

QString DialogFixture::Text(int id) const {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(Control(id))) {
        return label->text();
    }
    return {};
}

bool DialogFixture::Enabled(int id) const {
    return Control(id)->isEnabled();
}

int DialogFixture::Progress() const {
    return static_cast<QProgressBar*>(Control(1003))->value();
}

QPoint LampCentre(int n) {
    return ToQRect(LampStrip::LampBox(n)).center();
}

QRgb DialogFixture::LampOnScreen(int n) const {
    const QImage shown = dialog->grab().toImage();
    return shown.pixel(LampCentre(n)) & 0xFFFFFFu;
}

bool DialogFixture::LampFilledWith(int n, QRgb color) const {
    const QImage shown = dialog->grab().toImage();
    const QRect box = ToQRect(LampStrip::LampBox(n));
    int inside = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            const QRgb p = shown.pixel(x, y) & 0xFFFFFFu;
            if (p == (qRgb(0, 0, 0) & 0xFFFFFFu) || p == (Shown::Grey & 0xFFFFFFu)) {
                continue;
            }
            if (p != (color & 0xFFFFFFu)) {
                return false;
            }
            ++inside;
        }
    }
    return inside > 0;
}
