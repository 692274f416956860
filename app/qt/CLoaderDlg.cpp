#include "app/qt/CLoaderDlg.h"

#include "app/qt/CAboutDlg.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/LampImage.h"
#include "app/qt/Resources.h"
#include "app/qt/TemplateFont.h"
#include "ui_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QMetaObject>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <optional>
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

// The toolkit's event queue synchronises through futexes that ThreadSanitizer cannot see. Taking
// this mutex around each hand-over, on both sides, makes the ordering of a request's data visible
// to it; the cost is one uncontended lock per request.
std::mutex& Handover() {
    static std::mutex m;
    return m;
}

} // namespace

CLoaderDlg::CLoaderDlg(std::unique_ptr<PromptHost> prompts, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::CLoaderDlg>()), prompts_(std::move(prompts)),
      core_(*this) {
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
    core_.Close();
    prompts_->Dismiss();
}

void CLoaderDlg::OnInitDialog() {
    ApplyDialogUnits(this);
    // The lamps stand at fixed pixels: the client area holds the whole strip.
    setFixedSize(size().expandedTo(
        QSize(LampStrip::Left + LampStrip::Width, LampStrip::Top + LampStrip::Height)));
    aboutText_ = LoadResourceString(AboutMenuString);
    setWindowIcon(icon_);

    core_.OnInitDialog();
    // Fitted to the texts as they first show, banner included. Arial Black's own weight: a
    // lighter stand-in would not look like the template.
    ApplyTemplateFont(this, QFont::Black);
}

QWidget* CLoaderDlg::Control(int id) const {
    return FindControl(this, id);
}

void CLoaderDlg::Post(std::function<void()> op) {
    std::lock_guard<std::mutex> handover(Handover());
    // The toolkit drops posted calls of a dialog that is destroyed before they run.
    QMetaObject::invokeMethod(
        this,
        [op = std::move(op)] {
            { std::lock_guard<std::mutex> received(Handover()); }
            op();
        },
        Qt::QueuedConnection);
}

void CLoaderDlg::SetProgress(int position) {
    // A count past its total would go beyond the bar; the bar shows its end instead.
    ui_->progressBar->setValue(std::clamp(position, 0, 100));
}

void CLoaderDlg::SetStatus(const std::string& text) {
    ui_->statusText->setText(QString::fromLocal8Bit(text));
}

void CLoaderDlg::SetExitText(const std::string& text) {
    ui_->exitButton->setText(QString::fromLocal8Bit(text));
}

void CLoaderDlg::EnableExit() {
    ui_->exitButton->setEnabled(true);
}

void CLoaderDlg::EnableFlash() {
    ui_->flashButton->setEnabled(true);
}

void CLoaderDlg::FocusFlash() {
    ui_->flashButton->setFocus(Qt::OtherFocusReason);
}

void CLoaderDlg::DisableJobButtons() {
    ui_->flashButton->setEnabled(false);
    ui_->runButton->setEnabled(false);
    ui_->connectButton->setEnabled(false);
}

void CLoaderDlg::Repaint() {
    update();
}

void CLoaderDlg::SetBusyCursor(bool busy) {
    if (busy == busyCursor_) {
        return;
    }
    busyCursor_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

PromptCloser CLoaderDlg::ShowPrompt(const Prompt& prompt, PromptReply reply) {
    if (!core_.Link()->Alive()) {
        return {};
    }
    return prompts_->Show(this, prompt, std::move(reply));
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

void CLoaderDlg::KeepPaintingUntil(const std::function<bool()>& done) {
    const InputBlock block(this);
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    poll.start(WorkPollMs);
    if (!done()) {
        loop.exec();
    }
}

void CLoaderDlg::OnFlash() {
    core_.OnFlash();
}

void CLoaderDlg::OnConnect() {
    core_.OnConnect();
}

void CLoaderDlg::OnRun() {
    core_.OnRun();
}

void CLoaderDlg::accept() {
    if (core_.OnExit()) {
        QDialog::accept();
    }
}

void CLoaderDlg::reject() {}

void CLoaderDlg::done(int result) {
    // From here on the worker threads reach nothing of the dialog.
    core_.Close();
    prompts_->Dismiss();
    QDialog::done(result);
}

void CLoaderDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    const QRect area = ToQRect(LampStrip::ValidArea());
    painter.drawImage(area.topLeft(), LampImage(core_.Link()->Strip().Snapshot()), area);
}

void CLoaderDlg::closeEvent(QCloseEvent* event) {
    // A close from the window manager is an EXIT press, questions included; not a second one
    // while EXIT is still at work.
    event->ignore();
    if (!core_.Busy()) {
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
