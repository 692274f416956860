#include "app/win32/CLoaderDlg.h"

#include "app/win32/Boxes.h"
#include "app/win32/CAboutDlg.h"
#include "res/resource.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

namespace {

// How often the waiting dialog looks whether the work is done; short against any port time-out.
constexpr DWORD WorkPollMs = 20;

// Keyboard and mouse-button input for the dialog or one of its controls. Boxes are windows of
// their own threads and never show up here.
bool IsInputFor(HWND dialog, const MSG& msg) {
    const bool input = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                       (msg.message >= WM_LBUTTONDOWN && msg.message <= WM_MOUSELAST);
    return input && (msg.hwnd == dialog || IsChild(dialog, msg.hwnd));
}

} // namespace

CLoaderDlg::CLoaderDlg()
    : icon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))), core_(*this) {}

CLoaderDlg::~CLoaderDlg() {
    core_.Close();
    if (queue_) {
        queue_->Close();
    }
}

INT_PTR CLoaderDlg::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TERVIX_DIALOG), nullptr,
                           DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CLoaderDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        auto* dialog = reinterpret_cast<CLoaderDlg*>(lParam);
        dialog->window_ = window;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CLoaderDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog != nullptr ? dialog->OnMessage(message, wParam) : FALSE;
}

INT_PTR CLoaderDlg::OnMessage(UINT message, WPARAM wParam) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(icon_);
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam) ? TRUE : FALSE;
    case WM_SETCURSOR:
        if (busyCursor_) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_RUN_QUEUED:
        queue_->RunAll();
        return TRUE;
    case WM_CLOSE:
        // A close from outside is an EXIT press, questions included.
        OnOK();
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
        case IDC_FLASH:
            core_.OnFlash();
            return TRUE;
        case IDC_CONNECT:
            core_.OnConnect();
            return TRUE;
        case IDC_RUN:
            core_.OnRun();
            return TRUE;
        case IDOK:
            OnOK();
            return TRUE;
        case IDCANCEL:
            // Escape: EXIT is the only way out, so that the port is always closed on leaving.
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

BOOL CLoaderDlg::OnInitDialog() {
    // The template gives no system menu; where the window has one, it offers the About box.
    if (HMENU menu = GetSystemMenu(window_, FALSE); menu != nullptr) {
        char about[128] = "";
        if (LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, about, sizeof about) > 0) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

    HDC client = GetDC(window_);
    strip_.Build(client);
    ReleaseDC(window_, client);
    queue_ = std::make_shared<UiQueue>(window_);

    core_.OnInitDialog();
    return TRUE;
}

void CLoaderDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    if (IsIconic(window_)) {
        SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(window_, &client);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
    } else {
        strip_.CopyTo(dc, core_.Link()->Strip().Snapshot());
    }
    EndPaint(window_, &paint);
}

bool CLoaderDlg::OnSysCommand(WPARAM id) {
    if ((id & 0xFFF0) != IDM_ABOUTBOX) {
        return false;
    }
    CAboutDlg about;
    about.DoModal(window_);
    return true;
}

void CLoaderDlg::OnOK() {
    if (exiting_ || core_.Busy()) {
        return;
    }
    exiting_ = true;
    const bool leave = core_.OnExit();
    exiting_ = false;
    if (!leave) {
        return;
    }
    // From here on the worker threads and the boxes still open reach nothing of the dialog.
    core_.Close();
    queue_->Close();
    SetBusyCursor(false);
    EndDialog(window_, IDOK);
}

void CLoaderDlg::Post(std::function<void()> op) {
    queue_->Post(std::move(op));
}

void CLoaderDlg::SetProgress(int position) {
    // A count past its total would go beyond the bar; the bar shows its end instead.
    SendMessageA(Control(IDC_PROGRESS), PBM_SETPOS,
                 static_cast<WPARAM>(std::clamp(position, 0, 100)), 0);
}

void CLoaderDlg::SetStatus(const std::string& text) {
    SetDlgItemTextA(window_, IDC_STATUS, text.c_str());
}

void CLoaderDlg::SetExitText(const std::string& text) {
    SetDlgItemTextA(window_, IDOK, text.c_str());
}

void CLoaderDlg::EnableExit() {
    EnableWindow(Control(IDOK), TRUE);
}

void CLoaderDlg::EnableFlash() {
    EnableWindow(Control(IDC_FLASH), TRUE);
}

void CLoaderDlg::FocusFlash() {
    // The dialog's own way of moving the focus: the default button follows it.
    SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(IDC_FLASH)), TRUE);
}

void CLoaderDlg::DisableJobButtons() {
    EnableWindow(Control(IDC_FLASH), FALSE);
    EnableWindow(Control(IDC_RUN), FALSE);
    EnableWindow(Control(IDC_CONNECT), FALSE);
}

void CLoaderDlg::Repaint() {
    // The labels too: the dialog's erased background runs under them.
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CLoaderDlg::SetBusyCursor(bool busy) {
    busyCursor_ = busy;
    SetCursor(LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

PromptCloser CLoaderDlg::ShowPrompt(const Prompt& prompt, PromptReply reply) {
    // A box runs a message loop of its own until it is answered; on a thread of its own it
    // leaves this thread free to run the dialog, and EXIT free to end it. Nobody waits for the
    // thread: when the dialog has ended, the answer is dropped and the box ends with the program.
    HWND owner = prompt.modal ? window_ : nullptr;
    auto window = std::make_shared<BoxWindow>();
    std::thread([queue = queue_, prompt, reply = std::move(reply), owner, window] {
        const PromptAnswer answer = AskWithBox(prompt, owner, window.get());
        queue->Post([reply, answer] { reply(answer); });
    }).detach();
    return [window] { window->Close(); };
}

PromptAnswer CLoaderDlg::AskHere(const Prompt& prompt) {
    return AskWithBox(prompt, window_);
}

void CLoaderDlg::KeepPaintingUntil(const std::function<bool()>& done) {
    while (!done()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, WorkPollMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (IsInputFor(window_, msg) || IsDialogMessageA(window_, &msg)) {
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}
