#include "sim/PtyServer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;
sigset_t g_waitMask;

void OnStopSignal(int) {
    g_stopRequested = 1;
}

std::string Failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// A reply that cannot leave within this time is dropped, as a UART would lose it: the host is
// not reading, and the board must stay responsive to the stop signals.
constexpr int SendStallMs = 1000;

// A timed sleep wakes a little late (often 0.1 ms and more on a loaded or virtual machine), and
// the paced board sleeps once per request; so it sleeps to just short of the reply's time and
// waits out the rest awake, keeping the modelled line time honest for benchmarks.
constexpr auto SleepMargin = std::chrono::microseconds(400);

void WaitUntil(std::chrono::steady_clock::time_point when) {
    std::this_thread::sleep_until(when - SleepMargin);
    while (std::chrono::steady_clock::now() < when) {
        std::this_thread::yield();
    }
}

} // namespace

void HoldStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigprocmask(SIG_BLOCK, &stops, &g_waitMask);
    sigdelset(&g_waitMask, SIGINT);
    sigdelset(&g_waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

PtyServer::~PtyServer() {
    if (heldSlave_ >= 0) {
        close(heldSlave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

bool PtyServer::Open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = Failure("cannot open a pseudo-terminal");
        return false;
    }
    const char* name = ptsname(master_);
    if (name == nullptr) {
        error = Failure("cannot name the pseudo-terminal");
        return false;
    }
    slavePath_ = name;
    heldSlave_ = open(name, O_RDWR | O_NOCTTY);
    termios settings{};
    if (heldSlave_ < 0 || tcgetattr(heldSlave_, &settings) != 0) {
        error = Failure("cannot open the pseudo-terminal's slave");
        return false;
    }
    // Raw from the start: an echoing line would hand the board its own replies.
    cfmakeraw(&settings);
    if (tcsetattr(heldSlave_, TCSANOW, &settings) != 0) {
        error = Failure("cannot set the pseudo-terminal raw");
        return false;
    }
    return true;
}

void PtyServer::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        pollfd out{master_, POLLOUT, 0};
        if (poll(&out, 1, SendStallMs) <= 0) {
            return;
        }
    }
}

bool PtyServer::Serve(BoardSession& session, bool once, std::string& error) {
    std::uint8_t buffer[4096];
    while (g_stopRequested == 0) {
        pollfd in{master_, POLLIN, 0};
        const int ready = ppoll(&in, 1, nullptr, &g_waitMask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = Failure("waiting for the host");
            return false;
        }
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (got <= 0) {
            // Every slave descriptor is closed: the host has gone. Only possible once our own
            // was let go, that is with once after the first request.
            if (once && heldSlave_ < 0) {
                return true;
            }
            error = Failure("reading from the host");
            return false;
        }
        for (ssize_t i = 0; i < got; ++i) {
            BoardOutput out = session.Receive(buffer[i]);
            if (!out.Bytes.empty()) {
                WaitUntil(out.SendAt);
                Send(out.Bytes);
            }
            if (out.FrameEnded && once && heldSlave_ >= 0) {
                close(heldSlave_);
                heldSlave_ = -1;
            }
        }
    }
    return true;
}
