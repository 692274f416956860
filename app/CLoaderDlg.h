#pragma once
// The program's only window: five step lamps, a progress bar, a status line, Flash and EXIT.

#include "app/DialogLink.h"
#include "app/Prompts.h"

#include <QDialog>
#include <QIcon>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class CLoaderDlg;
}

// Start-up text of the status line.
inline constexpr const char* StartupBanner = "Korvane 2003-2026";

class CLoaderDlg : public QDialog {
    Q_OBJECT

public:
    explicit CLoaderDlg(std::unique_ptr<PromptHost> prompts = MakeBoxPrompts(),
                        QWidget* parent = nullptr);
    ~CLoaderDlg() override;

    const std::shared_ptr<DialogLink>& Link() const { return link_; }
    QWidget* Control(int id) const;

    // The display operations, on the user-interface thread.
    void SetProgress(int position);
    void SetStatus(const QString& text);
    void SetExitText(const QString& text);
    void EnableExit();
    void EnableFlash();

    // Shows a prompt and returns at once; reply runs when it is answered.
    void ShowPrompt(const Prompt& prompt, PromptReply reply);
    // Shows a prompt and waits for the answer while the dialog takes no input.
    PromptAnswer AskHere(const Prompt& prompt);

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
    void DrawAllLamps(QRgb color);
    bool Ask(PromptKind kind, const QString& text);
    // Runs work on another thread and returns when it is done; the dialog paints meanwhile but
    // takes no input.
    void WaitBeside(const std::function<void()>& work);

    std::unique_ptr<Ui::CLoaderDlg> ui_;
    std::unique_ptr<PromptHost> prompts_;
    std::shared_ptr<DialogLink> link_;
    QIcon icon_;
    QString aboutText_;
    bool busy_ = false; // in WaitBeside
};
