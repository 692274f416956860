#pragma once
// Calls that other threads queue for the dialog's thread: they wait here, and one posted window
// message asks the dialog to run them. Holders outlive the dialog safely: once it is closed, what
// is queued and everything posted later is dropped.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

// The message that asks the dialog to run the queued calls.
inline constexpr UINT WM_RUN_QUEUED = WM_APP + 1;

class UiQueue {
public:
    explicit UiQueue(HWND window) : window_(window) {}

    // Any thread; returns at once.
    void Post(std::function<void()> op);
    // The dialog's thread, on WM_RUN_QUEUED.
    void RunAll();
    // The dialog is ending: drops what is queued and everything posted from now on.
    void Close();

private:
    std::mutex lock_;
    HWND window_;
    std::deque<std::function<void()>> ops_;
};
