#include "app/Prompts.h"

#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

#include <vector>

namespace {

class BoxPrompts final : public PromptHost {
public:
    void Show(QWidget* parent, const Prompt& prompt, PromptReply reply) override {
        QDialog* box = prompt.kind == PromptKind::OpenHexFile ? MakeFileDialog(parent)
                                                              : MakeBox(parent, prompt);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(prompt.modal ? Qt::WindowModal : Qt::NonModal);
        const PromptKind kind = prompt.kind;
        QObject::connect(box, &QDialog::finished, box, [box, kind, reply](int result) {
            PromptAnswer answer;
            if (kind == PromptKind::OpenHexFile) {
                const QStringList files = static_cast<QFileDialog*>(box)->selectedFiles();
                answer.accepted = result == QDialog::Accepted && !files.isEmpty();
                answer.path = answer.accepted ? files.front() : QString();
            } else {
                answer.accepted = result == QMessageBox::Ok || result == QMessageBox::Yes;
            }
            reply(answer);
        });
        open_.emplace_back(box);
        box->show();
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
        auto* box = new QMessageBox(parent);
        box->setWindowTitle(prompt.caption);
        box->setText(prompt.text);
        box->setTextFormat(Qt::PlainText);
        switch (prompt.kind) {
        case PromptKind::PortQuestion:
            box->setIcon(QMessageBox::Question);
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setInformativeText(prompt.detail);
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

    static QDialog* MakeFileDialog(QWidget* parent) {
        auto* dialog = new QFileDialog(parent);
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
