#include "cli/Interruption.h"

#include "cli/ExitStatus.h"

#include "link/Packet.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> stopSignal{0};

// Runs on a thread of its own that Windows starts for the event; the run ends by its normal
// path. Ctrl-C reaches every process on the console, the boards' children included.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    int none = 0;
    stopSignal.compare_exchange_strong(none, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    RequestStop();
    return TRUE;
}

} // namespace

void CatchStopSignals() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int StopSignal() {
    return stopSignal.load();
}

int InterruptedStatus() {
    return stopSignal.load() == SIGINT ? ExitStatus::Interrupted : ExitStatus::Terminated;
}
