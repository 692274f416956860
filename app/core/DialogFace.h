#pragma once
// What a toolkit gives the desktop program's core: the main dialog's controls, its event queue,
// its boxes and its cursor. Each face (Qt, Win32) implements it once; the core decides what is
// shown and when.

#include "app/core/Prompts.h"

#include <functional>
#include <string>

class DialogFace {
public:
    virtual ~DialogFace() = default;

    // Any thread: queues op to run later on the user-interface thread, and returns at once. It is
    // called with the core's lock held, so it must not wait for the user-interface thread. Calls
    // still queued when the dialog is destroyed may be dropped.
    virtual void Post(std::function<void()> op) = 0;

    // Everything below runs on the user-interface thread only.
    virtual void SetProgress(int position) = 0; // the progress bar, 0 to 100
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetExitText(const std::string& text) = 0;
    virtual void EnableExit() = 0;
    virtual void EnableFlash() = 0;
    virtual void FocusFlash() = 0;
    // Flash and the hidden Run and Connect buttons, as a job starts.
    virtual void DisableJobButtons() = 0;
    // Invalidates the whole client area; the paint handler copies the lamp strip.
    virtual void Repaint() = 0;
    // The busy cursor over the dialog while the user-interface thread waits for the board.
    virtual void SetBusyCursor(bool busy) = 0;

    // Shows the prompt and returns at once; reply runs on this thread when it is answered, at
    // most once, and not at all when the dialog ends first. The closer returned, called on this
    // thread, takes the box away unanswered; a reply that still comes then counts for nothing.
    virtual PromptCloser ShowPrompt(const Prompt& prompt, PromptReply reply) = 0;
    // Shows the prompt and returns its answer (not accepted when the dialog ends first); the
    // dialog keeps painting but takes no input meanwhile.
    virtual PromptAnswer AskHere(const Prompt& prompt) = 0;
    // Returns once done() holds, asking it every few milliseconds; the dialog keeps painting and
    // showing prompts meanwhile but takes no input.
    virtual void KeepPaintingUntil(const std::function<bool()>& done) = 0;
};
