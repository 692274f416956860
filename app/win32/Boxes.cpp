#include "app/win32/Boxes.h"

#include <commdlg.h>

#include <vector>

namespace {

// Two pairs of name and pattern; each string ends in a NUL and the list in a second one.
constexpr char HexFilter[] = "INHEX32 Files (*.HEX)\0*.HEX\0 Any Files\0*.*\0";

// Room for a long path; a longer one makes the dialog fail, which counts as not chosen.
constexpr DWORD PathRoom = 32768;

PromptAnswer ChooseHexFile(const Prompt& prompt, HWND owner) {
    std::vector<char> path(PathRoom, '\0');
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = HexFilter;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = PathRoom;
    dialog.lpstrInitialDir = prompt.folder.empty() ? nullptr : prompt.folder.c_str();
    dialog.lpstrDefExt = "HEX";
    // The job writes temp.log into the working folder, which must stay the one the program was
    // started in, whatever folder the user browses to here.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
    PromptAnswer answer;
    answer.accepted = GetOpenFileNameA(&dialog) != FALSE;
    if (answer.accepted) {
        answer.path = path.data();
    }
    return answer;
}

UINT BoxStyle(PromptKind kind) {
    switch (kind) {
    case PromptKind::PortQuestion:
        return MB_YESNO | MB_ICONQUESTION;
    case PromptKind::OkCancel:
        return MB_OKCANCEL | MB_ICONEXCLAMATION;
    default:
        return MB_OK | MB_ICONEXCLAMATION;
    }
}

// The box whose window this thread is about to create.
thread_local BoxWindow* creating = nullptr;

// The box's own window is the first top-level dialog its thread creates.
LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && creating != nullptr) {
        auto* window = reinterpret_cast<HWND>(wParam);
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        char kind[16] = "";
        GetClassNameA(window, kind, sizeof kind);
        if ((create->style & WS_CHILD) == 0 && lstrcmpA(kind, "#32770") == 0) {
            creating->Created(window);
            creating = nullptr;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

PromptAnswer Ask(const Prompt& prompt, HWND owner) {
    if (prompt.kind == PromptKind::OpenHexFile) {
        return ChooseHexFile(prompt, owner);
    }
    // The port question names the port and nothing else: on Windows the name is the device.
    const int pressed =
        MessageBoxA(owner, prompt.text.c_str(), prompt.caption.c_str(), BoxStyle(prompt.kind));
    PromptAnswer answer;
    answer.accepted = pressed == IDOK || pressed == IDYES;
    return answer;
}

} // namespace

void BoxWindow::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    if (window_ != nullptr) {
        PostMessageA(window_, WM_CLOSE, 0, 0);
    }
}

void BoxWindow::Created(HWND window) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ended_) {
        return;
    }
    window_ = window;
    // Closed before it showed: it goes as soon as it runs.
    if (closed_) {
        PostMessageA(window_, WM_CLOSE, 0, 0);
    }
}

void BoxWindow::Ended() {
    std::lock_guard<std::mutex> guard(lock_);
    ended_ = true;
    // Its handle may name another window from now on.
    window_ = nullptr;
}

PromptAnswer AskWithBox(const Prompt& prompt, HWND owner, BoxWindow* window) {
    if (window == nullptr) {
        return Ask(prompt, owner);
    }
    creating = window;
    HHOOK hook = SetWindowsHookExA(WH_CBT, WatchCreation, nullptr, GetCurrentThreadId());
    const PromptAnswer answer = Ask(prompt, owner);
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
    creating = nullptr;
    window->Ended();
    return answer;
}
