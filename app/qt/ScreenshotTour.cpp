// tervix-screenshots: runs one flash job in the main dialog with every question answered (Yes to
// the first port, OK to each box, the given file) and saves the dialog as PNG at start, while
// writing and at the end. For the documentation; the desktop program itself has no such hooks.
//
//   tervix-screenshots FILE.HEX OUTPUT_FOLDER

#include "app/qt/CLoaderDlg.h"
#include "app/qt/LampImage.h"
#include "target/TargetProfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

class AutoAnswers final : public PromptHost {
public:
    explicit AutoAnswers(std::string hexPath) : hexPath_(std::move(hexPath)) {}
    PromptCloser Show(QWidget*, const Prompt& prompt, PromptReply reply) override {
        reply(
            PromptAnswer{true, prompt.kind == PromptKind::OpenHexFile ? hexPath_ : std::string()});
        return {};
    }
    void Dismiss() override {}

private:
    std::string hexPath_;
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

bool Save(QWidget& dialog, const QDir& folder, const char* name) {
    QApplication::processEvents();
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!dialog.grab().save(path, "PNG")) {
        std::fprintf(stderr, "tervix-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tervix-screenshots FILE.HEX OUTPUT_FOLDER\n");
        return 2;
    }
    const QString hex = QDir().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const QDir folder(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "tervix-screenshots: cannot create %s\n", argv[2]);
        return 1;
    }

    CLoaderDlg dialog(std::make_unique<AutoAnswers>(QFile::encodeName(hex).toStdString()));
    dialog.show();
    auto* flash = static_cast<QAbstractButton*>(dialog.Control(1001));
    WaitFor([] { return false; }, 300); // let the window settle
    bool ok = Save(dialog, folder, "start.png");

    flash->click();
    // Stage 4 with lamp 4 in its lit phase: the picture of a job that is writing.
    ok = WaitFor(
             [&] {
                 const QPoint lamp = ToQRect(LampStrip::LampBox(4)).center();
                 return g_stage.load() == StageWrite &&
                        dialog.Link()->Strip().Snapshot().At(lamp.x(), lamp.y()) == ColorLampLit;
             },
             60000) &&
         Save(dialog, folder, "writing.png") && ok;

    // Both threads are over once the lamp thread has painted the end and enabled Flash.
    ok = WaitFor([&] { return dialog.Link()->RunningWorkers() == 0; }, 120000) && ok;
    ok = Save(dialog, folder, "end.png") && ok && g_stage.load() == StageDone;
    if (!ok) {
        std::fprintf(stderr, "tervix-screenshots: the job did not succeed (stage %d)\n",
                     g_stage.load());
    }
    dialog.done(QDialog::Accepted);
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
