#include "app/CLoaderDlg.h"

#include "app/CAboutDlg.h"
#include "app/DialogUnits.h"
#include "app/FlashJobThread.h"
#include "app/Resources.h"
#include "app/StatusLampThread.h"
#include "app/TemplateFont.h"
#include "link/PortNames.h"
#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/TargetProfile.h"
#include "ui_main.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

namespace {

// The text of a string resource, empty when there is none.
QString LoadResourceString(int id) {
    QFile file(QStringLiteral(":/strings/%1").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

inline constexpr int AboutMenuString = 101;

// Keeps keyboard and mouse away from one window (its own boxes are other windows and stay usable)
// while it waits for work it cannot be interrupted in.
class InputBlock final : public QObject {
public:
    explicit InputBlock(QWidget* window) : window_(window) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~InputBlock() override { QCoreApplication::instance()->removeEventFilter(this); }
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || (widget != window_ && !window_->isAncestorOf(widget))) {
            return false;
        }
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            return true;
        default:
            return false;
        }
    }

private:
    QWidget* window_;
};

// How often the waiting dialog looks whether the work is done; short against any port time-out.
inline constexpr int WorkPollMs = 20;

} // namespace

CLoaderDlg::CLoaderDlg(std::unique_ptr<PromptHost> prompts, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CLoaderDlg>()), prompts_(std::move(prompts)),
      link_(std::make_shared<DialogLink>(this)) {
    EnsureResources();
    icon_ = QIcon(QStringLiteral(":/icons/128"));
    ui_->setupUi(this);
    // A caption but no close box and no system menu: EXIT is the way out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui_->flashButton, &QPushButton::clicked, this, &CLoaderDlg::OnFlash);
    connect(ui_->connectButton, &QPushButton::clicked, this, &CLoaderDlg::OnConnect);
    connect(ui_->runButton, &QPushButton::clicked, this, &CLoaderDlg::OnRun);
    connect(ui_->exitButton, &QPushButton::clicked, this, &CLoaderDlg::accept);
    OnInitDialog();
}

CLoaderDlg::~CLoaderDlg() {
    link_->Close();
    prompts_->Dismiss();
}

void CLoaderDlg::OnInitDialog() {
    ApplyDialogUnits(this);
    // The lamps stand at fixed pixels: the client area holds the whole strip.
    setFixedSize(size().expandedTo(
        QSize(LampStrip::Left + LampStrip::Width, LampStrip::Top + LampStrip::Height)));
    aboutText_ = LoadResourceString(AboutMenuString);
    setWindowIcon(icon_);

    g_stage.store(StageIdle);
    ProgressPercent.store(0);
    SetProgress(0);

    DrawAllLamps(ColorLampOff);
    SetStatus(QString::fromLatin1(StartupBanner));
    // Fitted to the texts as they first show, banner included. Arial Black's own weight: a
    // lighter stand-in would not look like the template.
    ApplyTemplateFont(this, QFont::Black);
    LoadDefaults();

    // ConnectTarget asks about each port through this dialog, from whichever thread calls it.
    std::weak_ptr<DialogLink> weak = link_;
    SetPortQuestion([weak](const char* text, const char* caption) {
        const std::shared_ptr<DialogLink> link = weak.lock();
        if (!link) {
            return false;
        }
        Prompt prompt;
        prompt.kind = PromptKind::PortQuestion;
        prompt.text = QString::fromLocal8Bit(text);
        prompt.caption = QString::fromLocal8Bit(caption);
        prompt.detail = QString::fromStdString(ResolveComName(text));
        return link->Ask(prompt).accepted;
    });
}

QWidget* CLoaderDlg::Control(int id) const {
    return FindControl(this, id);
}

void CLoaderDlg::SetProgress(int position) {
    // A count past its total would go beyond the bar; the bar shows its end instead.
    ui_->progressBar->setValue(std::clamp(position, 0, 100));
}

void CLoaderDlg::SetStatus(const QString& text) {
    ui_->statusText->setText(text);
}

void CLoaderDlg::SetExitText(const QString& text) {
    ui_->exitButton->setText(text);
}

void CLoaderDlg::EnableExit() {
    ui_->exitButton->setEnabled(true);
}

void CLoaderDlg::EnableFlash() {
    ui_->flashButton->setEnabled(true);
}

void CLoaderDlg::DrawAllLamps(QRgb color) {
    for (int lamp = 1; lamp <= LampCount; ++lamp) {
        link_->Strip().DrawLamp(lamp, color);
    }
}

void CLoaderDlg::ShowPrompt(const Prompt& prompt, PromptReply reply) {
    if (!link_->Alive()) {
        return;
    }
    Prompt shown = prompt;
    // While EXIT waits for its work, the work's questions are the dialog's own.
    shown.modal = shown.modal || busy_;
    prompts_->Show(this, shown, std::move(reply));
}

PromptAnswer CLoaderDlg::AskHere(const Prompt& prompt) {
    // The answer may come at once (a scripted host) or from a box the user closes later.
    auto answer = std::make_shared<std::optional<PromptAnswer>>();
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    prompts_->Show(this, prompt, [answer, &loop](const PromptAnswer& a) {
        *answer = a;
        loop.quit();
    });
    if (!answer->has_value()) {
        loop.exec();
    }
    return answer->value_or(PromptAnswer{});
}

bool CLoaderDlg::Ask(PromptKind kind, const QString& text) {
    Prompt prompt;
    prompt.kind = kind;
    prompt.text = text;
    prompt.caption = QString::fromLatin1(AppTitle);
    return link_->Ask(prompt).accepted;
}

void CLoaderDlg::OnFlash() {
    ui_->flashButton->setEnabled(false);
    ui_->runButton->setEnabled(false);
    ui_->connectButton->setEnabled(false);
    DrawAllLamps(ColorLampOff);
    SetExitText(QStringLiteral("CANCEL"));
    update();
    ProgressPercent.store(100);
    SetStatus(StatusFigure(ProgressPercent.load(), false));
    g_stage.store(StageIdle);

    const std::uint32_t generation = link_->StartJob();
    const std::shared_ptr<DialogLink> link = link_;
    link_->StartWorker([link, generation] { FlashJobThread(link, generation); });
    link_->StartWorker([link, generation] { StatusLampThread(link, generation); });
}

void CLoaderDlg::OnConnect() {
    const std::int32_t port = ConnectTarget();
    if (port >= 0) {
        SetStatus(StatusFigure(port, false));
        DrawAllLamps(ColorLampConnected);
        update();
    }
}

void CLoaderDlg::OnRun() {
    SetRunMode(1);
}

void CLoaderDlg::accept() {
    if (const std::int32_t stage = g_stage.load(); stage != StageDone && stage != StageIdle) {
        if (!Ask(PromptKind::OkCancel, QStringLiteral("Are you really want to exit"))) {
            return;
        }
    }
    if (g_stage.load() == StageIdle &&
        Ask(PromptKind::OkCancel, QStringLiteral("Korvane 27-05 Run Mode Setting"))) {
        WaitBeside([] {
            ConnectTarget();
            if (SetRunMode(1) < 0) {
                SetRunMode(1);
            }
        });
    }
    DisconnectTarget();
    QDialog::accept();
}

void CLoaderDlg::WaitBeside(const std::function<void()>& work) {
    // A board that does not answer keeps the port calls busy for many seconds: they run on a
    // thread of their own while this one keeps the dialog painted and its questions answered.
    busy_ = true;
    const InputBlock block(this);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done.store(true, std::memory_order_release);
    });
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load(std::memory_order_acquire)) {
            loop.quit();
        }
    });
    poll.start(WorkPollMs);
    loop.exec();
    worker.join();
    busy_ = false;
}

void CLoaderDlg::reject() {}

void CLoaderDlg::done(int result) {
    // From here on the worker threads reach nothing of the dialog.
    link_->Close();
    prompts_->Dismiss();
    QDialog::done(result);
}

void CLoaderDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    link_->Strip().CopyTo(painter);
}

void CLoaderDlg::closeEvent(QCloseEvent* event) {
    // A close from the window manager is an EXIT press, questions included; not a second one
    // while EXIT is still at work.
    event->ignore();
    if (!busy_) {
        accept();
    }
}

void CLoaderDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (aboutText_.isEmpty()) {
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(aboutText_);
    if (menu.exec(event->globalPos()) == about) {
        CAboutDlg box;
        box.exec();
    }
}
