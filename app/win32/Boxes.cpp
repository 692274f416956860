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
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
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

} // namespace

PromptAnswer AskWithBox(const Prompt& prompt, HWND owner) {
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
