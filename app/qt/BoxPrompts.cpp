#include "app/qt/PromptHost.h"

#include "app/core/BoxPlacement.h"
#include "app/qt/DialogUnits.h"
#include "app/qt/LampImage.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Room a title bar takes beside the caption: the window icon and up to three buttons.
inline constexpr int TitleBarControls = 4 * 32;
// The main dialog's status line.
inline constexpr int StatusControl = 1004;

PixelRect ToPixelRect(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

// Moves a box, laid out and about to be mapped, to where it leaves the main dialog's lamps and
// status line in view and covers none of the other boxes.
void PlaceBeside(QWidget* box, const QWidget* owner, const std::vector<QPointer<QDialog>>& open) {
    const QRect dialog = owner->frameGeometry();
    // The box's frame is not known before it is mapped: the dialog's is the best guess.
    const QSize frame = box->size() + (dialog.size() - owner->size());
    BoxScene scene;
    scene.screen = ToPixelRect(owner->screen()->availableGeometry());
    scene.dialog = ToPixelRect(dialog);
    const QRect lamps = ToQRect(LampStrip::ValidArea());
    scene.lamps = ToPixelRect(QRect(owner->mapToGlobal(lamps.topLeft()), lamps.size()));
    if (const QWidget* status = FindControl(owner, StatusControl)) {
        scene.status = ToPixelRect(QRect(status->mapToGlobal(QPoint(0, 0)), status->size()));
    }
    for (const QPointer<QDialog>& other : open) {
        if (other && other != box && other->isVisible()) {
            scene.open.push_back(ToPixelRect(other->frameGeometry()));
        }
    }
    const BoxPosition at = PlaceBox(scene, frame.width(), frame.height());
    box->move(at.x, at.y);
}

// A message box that opens where PlaceBeside puts it, and that is wide enough for its whole
// caption: window managers cut a caption short by eliding its middle.
class BesideBox final : public QMessageBox {
public:
    BesideBox(QWidget* parent, const QString& caption, const std::vector<QPointer<QDialog>>& open)
        : QMessageBox(parent), open_(open) {
        setWindowTitle(caption);
    }

protected:
    void showEvent(QShowEvent* event) override {
        // The box lays itself out anew as its parts are set, and takes its size from the layout
        // as it shows: a spacer across a row of its own, added now, sets its least width.
        if (auto* grid = qobject_cast<QGridLayout*>(layout()); grid != nullptr && !widened_) {
            QFont title = font();
            title.setBold(true);
            const int width =
                QFontMetrics(title).horizontalAdvance(windowTitle()) + TitleBarControls;
            grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                          grid->rowCount(), 0, 1, grid->columnCount());
            widened_ = true;
        }
        // The base settles the size and centres the box on the dialog; then it moves aside,
        // before the window is mapped.
        QMessageBox::showEvent(event);
        if (parentWidget() != nullptr) {
            PlaceBeside(this, parentWidget()->window(), open_);
        }
    }

private:
    // The host's boxes; the host closes them all before it goes.
    const std::vector<QPointer<QDialog>>& open_;
    bool widened_ = false;
};

// The toolkit's file dialog, no larger than the screen, so that its name field and buttons can
// be reached, placed like a box.
class FittedFileDialog final : public QFileDialog {
public:
    FittedFileDialog(QWidget* parent, const std::vector<QPointer<QDialog>>& open)
        : QFileDialog(parent), open_(open) {}

protected:
    void showEvent(QShowEvent* event) override {
        const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
        const QScreen* shown = owner != nullptr ? owner->screen() : screen();
        // Room for the frame as the dialog's own window has it.
        const QSize frame = owner != nullptr ? owner->frameGeometry().size() - owner->size()
                                             : frameGeometry().size() - size();
        resize(size().boundedTo(shown->availableGeometry().size() - frame));
        QFileDialog::showEvent(event);
        if (owner != nullptr) {
            PlaceBeside(this, owner, open_);
        }
    }

private:
    // The host's boxes; the host closes them all before it goes.
    const std::vector<QPointer<QDialog>>& open_;
};

class BoxPrompts final : public PromptHost {
public:
    PromptCloser Show(QWidget* parent, const Prompt& prompt, PromptReply reply) override {
        QDialog* box = prompt.kind == PromptKind::OpenHexFile ? MakeFileDialog(parent, prompt)
                                                              : MakeBox(parent, prompt);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(prompt.modal ? Qt::WindowModal : Qt::NonModal);
        const PromptKind kind = prompt.kind;
        QObject::connect(box, &QDialog::finished, box, [box, kind, reply](int result) {
            PromptAnswer answer;
            if (kind == PromptKind::OpenHexFile) {
                const QStringList files = static_cast<QFileDialog*>(box)->selectedFiles();
                answer.accepted = result == QDialog::Accepted && !files.isEmpty();
                answer.path = answer.accepted ? QFile::encodeName(files.front()).toStdString()
                                              : std::string();
            } else {
                answer.accepted = result == QMessageBox::Ok || result == QMessageBox::Yes;
            }
            reply(answer);
        });
        std::erase_if(open_, [](const QPointer<QDialog>& b) { return b.isNull(); });
        open_.emplace_back(box);
        box->show();
        return [shown = QPointer<QDialog>(box)] {
            if (shown) {
                shown->blockSignals(true);
                shown->close();
            }
        };
    }

    void Dismiss() override {
        for (const QPointer<QDialog>& box : open_) {
            if (box) {
                box->blockSignals(true);
                box->close();
            }
        }
        open_.clear();
    }

private:
    QDialog* MakeBox(QWidget* parent, const Prompt& prompt) const {
        auto* box = new BesideBox(parent, QString::fromLocal8Bit(prompt.caption), open_);
        box->setText(QString::fromLocal8Bit(prompt.text));
        box->setTextFormat(Qt::PlainText);
        switch (prompt.kind) {
        case PromptKind::PortQuestion:
            box->setIcon(QMessageBox::Question);
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setInformativeText(QString::fromLocal8Bit(prompt.detail));
            break;
        case PromptKind::OkCancel:
            box->setIcon(QMessageBox::Warning);
            box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        default:
            box->setIcon(QMessageBox::Warning);
            box->setStandardButtons(QMessageBox::Ok);
            break;
        }
        return box;
    }

    QDialog* MakeFileDialog(QWidget* parent, const Prompt& prompt) const {
        auto* dialog = new FittedFileDialog(parent, open_);
        if (!prompt.folder.empty()) {
            dialog->setDirectory(QFile::decodeName(prompt.folder.c_str()));
        }
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        dialog->setFileMode(QFileDialog::ExistingFile);
        dialog->setDefaultSuffix(QStringLiteral("HEX"));
        // The toolkit's own dialog, because its filter honours the case-insensitive filter
        // below; a native one may match "*.HEX" case-sensitively and hide "blink.hex".
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setFilter(dialog->filter() & ~QDir::CaseSensitive);
        const QStringList filters{QStringLiteral("INHEX32 Files (*.HEX)"),
                                  QStringLiteral(" Any Files (*.*)")};
        dialog->setNameFilters(filters);
        // The dialog trims each filter's text; the list shows them as written. Only the shown
        // text changes: the dialog still filters by its own copy.
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            types != nullptr && types->count() == filters.size()) {
            for (int i = 0; i < filters.size(); ++i) {
                types->setItemText(i, filters[i]);
            }
        }
        return dialog;
    }

    std::vector<QPointer<QDialog>> open_;
};

} // namespace

std::unique_ptr<PromptHost> MakeBoxPrompts() {
    return std::make_unique<BoxPrompts>();
}
