#include "app/qt/PromptHost.h"

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
// Between the dialog and a box beside it.
inline constexpr int BesideGap = 8;

// A message box that opens beside its dialog rather than over it, so that the lamps and the status
// line it reports on stay in view, and that is wide enough for its whole caption: window managers
// cut a caption short by eliding its middle.
class BesideBox final : public QMessageBox {
public:
    BesideBox(QWidget* parent, const QString& caption) : QMessageBox(parent) {
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
            move(BesidePosition(parentWidget()->window()));
        }
    }

private:
    // Right of the dialog where the screen has room, else left of it, else on the side with the
    // more room, kept on the screen.
    QPoint BesidePosition(const QWidget* owner) const {
        const QRect dialog = owner->frameGeometry();
        const QSize frame = size() + (dialog.size() - owner->size());
        const QRect screen = owner->screen()->availableGeometry();
        const int right = dialog.right() + 1 + BesideGap;
        const int left = dialog.left() - BesideGap - frame.width();
        int x = right;
        if (right + frame.width() > screen.right() + 1) {
            if (left >= screen.left()) {
                x = left;
            } else {
                x = screen.right() + 1 - dialog.right() > dialog.left() - screen.left()
                        ? screen.right() + 1 - frame.width()
                        : screen.left();
            }
        }
        const int y = std::clamp(dialog.top(), screen.top(),
                                 std::max(screen.top(), screen.bottom() + 1 - frame.height()));
        return {x, y};
    }

    bool widened_ = false;
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
    static QDialog* MakeBox(QWidget* parent, const Prompt& prompt) {
        auto* box = new BesideBox(parent, QString::fromLocal8Bit(prompt.caption));
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

    static QDialog* MakeFileDialog(QWidget* parent, const Prompt& prompt) {
        auto* dialog = new QFileDialog(parent);
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
