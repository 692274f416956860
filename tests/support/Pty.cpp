#include "tests/support/Pty.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for events on fd until the deadline; false on time-out or error.
bool AwaitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, MsLeft(deadline));
        if (ready > 0) {
            return (entry.revents & events) != 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

} // namespace

Pty::Pty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        return;
    }
    std::array<char, 128> name{};
    termios tio{};
    // On Linux the termios calls on the master act on the slave: the line is raw (no echo, no
    // character translation) from the start, before the code under test configures it.
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name.data(), name.size()) != 0 || tcgetattr(master, &tio) != 0) {
        close(master);
        return;
    }
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, O_NONBLOCK);
    slavePath_ = name.data();
    heldSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    master_ = master;
}

Pty::~Pty() {
    if (heldSlave_ >= 0) {
        close(heldSlave_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

bool Pty::Send(const std::vector<std::uint8_t>& bytes, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t put = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (put > 0) {
            sent += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!AwaitReady(master_, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

bool Pty::AwaitUnread(std::size_t count, int timeoutMs) const {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int unread = 0; ioctl(heldSlave_, FIONREAD, &unread) == 0;) {
        if (static_cast<std::size_t>(unread) >= count) {
            return true;
        }
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::vector<std::uint8_t> Pty::Receive(std::size_t count, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::uint8_t> received(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = read(master_, received.data() + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if ((n < 0 && errno != EAGAIN && errno != EINTR) ||
                   !AwaitReady(master_, POLLIN, deadline)) {
            break;
        }
    }
    received.resize(got);
    return received;
}
