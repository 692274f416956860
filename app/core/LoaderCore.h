#pragma once
// What the main dialog does apart from any toolkit: its start-up, the Flash press that starts a
// job's two threads, the hidden Connect and Run buttons, and what EXIT asks and does. A face
// forwards its handlers here and carries out the display operations of DialogFace.

#include "app/core/DialogFace.h"
#include "app/core/DialogLink.h"

#include <functional>
#include <memory>
#include <string>

// Start-up text of the status line.
inline constexpr const char* StartupBanner = "Korvane 2003-2026";
// The status line while EXIT waits for the board to take run mode.
inline constexpr const char* RunModeWaitText = "Setting run mode...";

class LoaderCore {
public:
    // face is the dialog, which outlives this object; created on the user-interface thread.
    explicit LoaderCore(DialogFace& face);
    ~LoaderCore();
    LoaderCore(const LoaderCore&) = delete;
    LoaderCore& operator=(const LoaderCore&) = delete;

    const std::shared_ptr<DialogLink>& Link() const { return link_; }

    // Stage and progress reset, the five lamps dark, the banner, the profile's defaults, and the
    // port question routed through the dialog.
    void OnInitDialog();
    // Resets the displays and starts the job and lamp threads; returns at once.
    void OnFlash();
    void OnConnect();
    void OnRun();
    // The EXIT button: asks what the stage calls for and does the run-mode setting at idle.
    // True when the dialog should end now; false when the user chose to stay.
    bool OnExit();
    // True while EXIT waits for the board; a second EXIT (a window close) must wait too.
    bool Busy() const { return busy_; }

    // The dialog is ending: from now on the worker threads reach nothing of it.
    void Close();

private:
    void DrawAllLamps(LampColor color);
    bool Ask(PromptKind kind, const std::string& text);
    // Runs work on a thread of its own while the dialog keeps painting and takes no input, with
    // the status line saying what it waits for and the busy cursor.
    void WaitBeside(const std::function<void()>& work);

    DialogFace& face_;
    std::shared_ptr<DialogLink> link_;
    bool busy_ = false;
};
