#include "cli/Interruption.h"

#include "cli/ExitStatus.h"

#include "link/Packet.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stopSignal = 0;

// Async-signal-safe: a store to a sig_atomic_t and one to a lock-free atomic.
void OnStopSignal(int signal) {
    if (stopSignal == 0) {
        stopSignal = signal;
    }
    RequestStop();
}

} // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls cut short by the signal go on; every loop that waits looks at the stop in time.
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // A write to a closed output fails with EPIPE instead, and the run goes on.
    std::signal(SIGPIPE, SIG_IGN);
}

int StopSignal() {
    return stopSignal;
}

int InterruptedStatus() {
    return stopSignal == SIGINT ? ExitStatus::Interrupted : ExitStatus::Terminated;
}
