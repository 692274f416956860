#include "tests/wine/desktop/WindowDriver.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int PollMs = 50;

struct Search {
    DWORD process;
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window) &&
        WindowText(window) == *search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The file name field: an edit control with the number that explorer-style open dialogs give it
// (cmb13, or edt1 in older templates), possibly inside a combo box of that number.
BOOL CALLBACK MatchNameField(HWND window, LPARAM param) {
    char kind[32] = "";
    GetClassNameA(window, kind, sizeof kind);
    const int id = GetDlgCtrlID(window);
    if (lstrcmpiA(kind, "Edit") == 0 && (id == 0x47C || id == 0x480)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

bool AwaitTrue(const std::function<bool()>& ready, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= end) {
            return ready();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(PollMs));
    }
    return true;
}

DesktopProcess::DesktopProcess(const std::string& exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info_)) {
        info_ = {};
    }
}

DesktopProcess::~DesktopProcess() {
    if (!Started()) {
        return;
    }
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, WaitMs);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

DWORD DesktopProcess::AwaitExit(int timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (Started() &&
        WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) {
        GetExitCodeProcess(info_.hProcess, &code);
    }
    return code;
}

HWND DesktopProcess::AwaitWindow(const std::string& caption, int timeoutMs) const {
    Search search{info_.dwProcessId, &caption, nullptr};
    AwaitTrue(
        [&] {
            EnumWindows(MatchTopWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

std::string BoxText(HWND box) {
    // The message's static control carries the number 0xFFFF.
    return ControlText(box, 0xFFFF);
}

void Click(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool Answer(HWND box, int id) {
    Click(box, id);
    return AwaitTrue([box] { return !IsWindow(box); });
}

namespace {

HWND NameField(HWND fileDialog) {
    HWND field = nullptr;
    AwaitTrue([&] {
        EnumChildWindows(fileDialog, MatchNameField, reinterpret_cast<LPARAM>(&field));
        return field != nullptr;
    });
    return field;
}

} // namespace

bool ChooseFile(HWND fileDialog, const std::string& path) {
    HWND field = NameField(fileDialog);
    if (field == nullptr) {
        return false;
    }
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    return Answer(fileDialog, IDOK);
}

bool TypeIntoNameField(HWND fileDialog, const std::string& text) {
    HWND field = NameField(fileDialog);
    if (field == nullptr) {
        return false;
    }
    // The characters reach the field before Enter goes through the dialog's own queue, where the
    // dialog manager turns it into the default button.
    for (const char c : text) {
        SendMessageA(field, WM_CHAR, static_cast<unsigned char>(c), 1);
    }
    PostMessageA(field, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageA(field, WM_KEYUP, VK_RETURN, 0xC0000001);
    return true;
}

std::string NameFieldText(HWND fileDialog) {
    HWND field = NameField(fileDialog);
    return field != nullptr ? WindowText(field) : std::string();
}

COLORREF ScreenPixel(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

Placement PlacementOf(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    POINT topLeft{r.left, r.top};
    ScreenToClient(dialog, &topLeft);
    return {static_cast<int>(topLeft.x), static_cast<int>(topLeft.y),
            static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)};
}

bool SaveWindowBitmap(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) / 4 * 4;
    std::vector<char> rows(static_cast<size_t>(stride) * static_cast<size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), rows.data(),
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(rows.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&header, sizeof header, 1, out) == 1 &&
                         std::fwrite(rows.data(), rows.size(), 1, out) == 1;
    return std::fclose(out) == 0 && written;
}

BaseUnits TemplateFontUnits(const char* face, int points, int weight) {
    HDC screen = GetDC(nullptr);
    HFONT font = CreateFontA(-MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0,
                             weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_DONTCARE, face);
    HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICA metrics;
    GetTextMetricsA(screen, &metrics);
    // The average of the 52 letters, rounded to the nearest pixel.
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    SIZE size;
    GetTextExtentPoint32A(screen, letters, 52, &size);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    return {(size.cx / 26 + 1) / 2, static_cast<int>(metrics.tmHeight)};
}

Placement UnitsToPixels(const Placement& units, const BaseUnits& base) {
    return {MulDiv(units.x, base.x, 4), MulDiv(units.y, base.y, 8), MulDiv(units.width, base.x, 4),
            MulDiv(units.height, base.y, 8)};
}
