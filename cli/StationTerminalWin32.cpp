#include "cli/StationTerminal.h"

#include <io.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

struct StationKeys::State {
    HANDLE Input = INVALID_HANDLE_VALUE;
    bool Console = false;
    DWORD Saved = 0;
    bool Ended = false;
};

StationKeys::StationKeys() : state_(std::make_unique<State>()) {
    state_->Input = GetStdHandle(STD_INPUT_HANDLE);
    if (GetConsoleMode(state_->Input, &state_->Saved)) {
        // Keys one at a time and unseen; Ctrl-C still reaches the handler as a signal.
        state_->Console = SetConsoleMode(state_->Input, ENABLE_PROCESSED_INPUT) != 0;
    }
}

StationKeys::~StationKeys() {
    if (state_->Console) {
        SetConsoleMode(state_->Input, state_->Saved);
    }
}

char StationKeys::Next(int timeoutMs) {
    if (state_->Ended || state_->Input == INVALID_HANDLE_VALUE || state_->Input == nullptr) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
    }
    if (state_->Console) {
        if (WaitForSingleObject(state_->Input, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
            return 0;
        }
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(state_->Input, &record, 1, &read) || read != 1 ||
            record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            return 0;
        }
        const char key = record.Event.KeyEvent.uChar.AsciiChar;
        return key == '\r' ? '\n' : key;
    }
    // A pipe is looked at until a byte is there; a file is read at once.
    if (GetFileType(state_->Input) == FILE_TYPE_PIPE) {
        DWORD available = 0;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (!PeekNamedPipe(state_->Input, nullptr, 0, nullptr, &available, nullptr)) {
                state_->Ended = true;
                return 0;
            }
            if (available > 0) {
                break;
            }
            Sleep(20);
        }
        if (available == 0) {
            return 0;
        }
    }
    char key = 0;
    DWORD got = 0;
    if (!ReadFile(state_->Input, &key, 1, &got, nullptr) || got != 1) {
        state_->Ended = true;
        return 0;
    }
    return key == '\r' ? '\n' : key;
}

void ConsoleSize(std::FILE* out, int& columns, int& rows) {
    columns = 80;
    rows = 24;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    if (GetConsoleScreenBufferInfo(handle, &info)) {
        columns = info.srWindow.Right - info.srWindow.Left + 1;
        rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    }
}

bool ConsoleColours(std::FILE* out) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0;
    return std::getenv("NO_COLOR") == nullptr && GetConsoleMode(handle, &mode) &&
           (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
