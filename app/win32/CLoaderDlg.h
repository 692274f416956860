#pragma once
// The program's only window (template 102): five step lamps, a progress bar, a status line,
// Flash and EXIT. The Win32 face of the core: the core decides, this dialog shows.

#include "app/core/DialogFace.h"
#include "app/core/LoaderCore.h"
#include "app/win32/LampBitmap.h"
#include "app/win32/UiQueue.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

class CLoaderDlg : private DialogFace {
public:
    CLoaderDlg();
    ~CLoaderDlg() override;
    CLoaderDlg(const CLoaderDlg&) = delete;
    CLoaderDlg& operator=(const CLoaderDlg&) = delete;

    // Runs the dialog modally as the program's main window, until EXIT ends it.
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The messages after WM_INITDIALOG; none of those it handles needs its second parameter.
    INT_PTR OnMessage(UINT message, WPARAM wParam);

    BOOL OnInitDialog();
    void OnPaint();
    // The About item; false for every other system command, which gets the default processing.
    bool OnSysCommand(WPARAM id);
    // The EXIT button, and a close of the window other than through it.
    void OnOK();
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    // DialogFace, on the dialog's controls and its thread's message queue.
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
    PromptCloser ShowPrompt(const Prompt& prompt, PromptReply reply) override;
    PromptAnswer AskHere(const Prompt& prompt) override;
    void KeepPaintingUntil(const std::function<bool()>& done) override;

    HWND window_ = nullptr;
    HICON icon_;
    LampBitmap strip_;
    std::shared_ptr<UiQueue> queue_;
    bool busyCursor_ = false;
    bool exiting_ = false; // in OnOK: a second EXIT waits for the first
    // Last: its threads reach the dialog through the members above.
    LoaderCore core_;
};
