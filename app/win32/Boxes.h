#pragma once
// The program's questions as the system's own windows: message boxes for texts and for the port
// question, the common open-file dialog for the HEX file.

#include "app/core/Prompts.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <mutex>

// The window of a box that runs on a thread of its own, so that another thread can close it.
class BoxWindow {
public:
    // Any thread: closes the box unanswered, at once or as soon as its window exists; nothing
    // once the box has ended.
    void Close();

    // The box's thread: its window was created; it has ended.
    void Created(HWND window);
    void Ended();

private:
    std::mutex lock_;
    HWND window_ = nullptr;
    bool closed_ = false;
    bool ended_ = false;
};

// Shows the prompt and returns the user's answer. With an owner the box is modal to it; without
// one it stands on its own and the dialog stays usable. The box's window is reported to window,
// when given.
PromptAnswer AskWithBox(const Prompt& prompt, HWND owner, BoxWindow* window = nullptr);
