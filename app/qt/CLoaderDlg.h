#pragma once
// The program's only window: five step lamps, a progress bar, a status line, Flash and EXIT. The
// Qt face of the core: the core decides, this dialog shows.

#include "app/core/DialogFace.h"
#include "app/core/LoaderCore.h"
#include "app/qt/PromptHost.h"

#include <QDialog>
#include <QIcon>

#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CLoaderDlg;
}

class CLoaderDlg : public QDialog, private DialogFace {
    Q_OBJECT

public:
    explicit CLoaderDlg(std::unique_ptr<PromptHost> prompts = MakeBoxPrompts(),
                        QWidget* parent = nullptr);
    ~CLoaderDlg() override;

    const std::shared_ptr<DialogLink>& Link() const { return core_.Link(); }
    QWidget* Control(int id) const;

    // Shows a prompt and returns at once; reply runs when it is answered.
    PromptCloser ShowPrompt(const Prompt& prompt, PromptReply reply) override;

public slots:
    void OnFlash();
    void OnConnect();
    void OnRun();
    // The EXIT button.
    void accept() override;
    // Escape: EXIT is the only way out.
    void reject() override;
    // Ends the dialog; from then on the worker threads reach nothing of it.
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnInitDialog();

    // DialogFace, on the toolkit's widgets and event queue.
    void Post(std::function<void()> op) override;
    void SetProgress(int position) override;
    void SetStatus(const std::string& text) override;
    void SetExitText(const std::string& text) override;
    void EnableExit() override;
    void EnableFlash() override;
    void FocusFlash() override;
    void DisableJobButtons() override;
    void Repaint() override;
    void SetBusyCursor(bool busy) override;
    PromptAnswer AskHere(const Prompt& prompt) override;
    void KeepPaintingUntil(const std::function<bool()>& done) override;

    std::unique_ptr<Ui::CLoaderDlg> ui_;
    std::unique_ptr<PromptHost> prompts_;
    QIcon icon_;
    QString aboutText_;
    bool busyCursor_ = false;
    // Last: constructed once the widgets exist, closed before they go.
    LoaderCore core_;
};
