#include "link/OpenFailure.h"
#include "link/OutputQueuePosix.h"
#include "link/PortDevice.h"
#include "link/PortNames.h"
#include "link/TtyLinePosix.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How often the output queue is looked at while the bytes of the previous packet drain.
constexpr auto DrainPollInterval = std::chrono::milliseconds(3);

bool DeviceOutputQueue(int fd, int* queued) {
    return ioctl(fd, TIOCOUTQ, queued) == 0;
}

std::atomic<OutputQueueQuery> outputQueueQuery{DeviceOutputQueue};

bool OpenWakePipe(int ends[2]) {
    if (pipe(ends) != 0) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        fcntl(ends[i], F_SETFD, FD_CLOEXEC);
        fcntl(ends[i], F_SETFL, O_NONBLOCK);
    }
    return true;
}

// Each operation holds the mutex, so Close waits for the one in flight; the wake pipe makes that
// one give up at once instead of at its time-out (the EXIT button closes the port under a
// running job).
class PosixPort final : public PortDevice {
public:
    PosixPort(int fd, const int wake[2], std::uint32_t readTimeoutMs, const FoundLine& found)
        : fd_(fd), wakeRead_(wake[0]), wakeWrite_(wake[1]), readTimeoutMs_(readTimeoutMs),
          found_(found) {}
    ~PosixPort() override { Close(); }
    PosixPort(const PosixPort&) = delete;
    PosixPort& operator=(const PosixPort&) = delete;

    int ReadByte(std::uint8_t* byte) override;
    int WriteByte(std::uint8_t byte) override;
    bool Close() override;
    std::uint32_t ReadTimeoutMs() const override { return readTimeoutMs_; }
    void DiscardInput() override;

private:
    enum class Wait { Ready, TimedOut, Failed };
    // What a one-byte operation reports when its wait did not end ready: 0 for a time-out.
    static int ByteResult(Wait wait) { return wait == Wait::TimedOut ? 0 : -1; }

    Wait WaitFor(short events, Clock::time_point deadline);
    Wait AwaitDrain(Clock::time_point deadline);
    Clock::duration WriteBound() const { return 3 * std::chrono::milliseconds(readTimeoutMs_); }

    std::mutex mutex_;
    std::atomic<bool> closing_{false};
    int fd_;
    const int wakeRead_;
    const int wakeWrite_;
    const std::uint32_t readTimeoutMs_;
    const FoundLine found_;
    // Set by open and by every read: the next write then starts a packet.
    bool packetStart_ = true;
    // Bytes fetched by one read() that the caller has not taken yet.
    std::array<std::uint8_t, 256> ahead_{};
    std::size_t aheadPos_ = 0;
    std::size_t aheadEnd_ = 0;
};

// Waits until the device is ready for events (none: only sleeps), the deadline passes, or Close
// wakes us. A device that reports an error or a hang-up has failed.
PosixPort::Wait PosixPort::WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Wait::TimedOut;
        }
        pollfd fds[2] = {{fd_, events, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(std::min<decltype(left)>(left, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            return Wait::Failed;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            return Wait::Failed;
        }
        if ((fds[0].revents & events) != 0) {
            return Wait::Ready;
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return Wait::Failed;
        }
    }
}

// Looked at once per packet, not per byte, so that a byte costs one write() and a USB adapter
// keeps up with the line: bytes of the previous packet still queued mean CTS holds the line. A
// device that cannot tell counts as drained.
PosixPort::Wait PosixPort::AwaitDrain(Clock::time_point deadline) {
    for (;;) {
        int queued = 0;
        if (!outputQueueQuery.load()(fd_, &queued) || queued <= 0) {
            return Wait::Ready;
        }
        if (Clock::now() >= deadline) {
            return Wait::TimedOut;
        }
        if (WaitFor(0, std::min(deadline, Clock::now() + DrainPollInterval)) == Wait::Failed) {
            return Wait::Failed;
        }
    }
}

int PosixPort::ReadByte(std::uint8_t* byte) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (fd_ < 0 || byte == nullptr) {
        return -1;
    }
    packetStart_ = true;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
    while (aheadPos_ == aheadEnd_) {
        const ssize_t got = read(fd_, ahead_.data(), ahead_.size());
        if (got > 0) {
            aheadPos_ = 0;
            aheadEnd_ = static_cast<std::size_t>(got);
            break;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return -1;
        }
        if (const Wait wait = WaitFor(POLLIN, deadline); wait != Wait::Ready) {
            return ByteResult(wait);
        }
    }
    *byte = ahead_[aheadPos_++];
    return 1;
}

int PosixPort::WriteByte(std::uint8_t byte) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (fd_ < 0) {
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + WriteBound();
    if (packetStart_) {
        if (const Wait wait = AwaitDrain(deadline); wait != Wait::Ready) {
            return ByteResult(wait);
        }
        packetStart_ = false;
    }
    for (;;) {
        const ssize_t put = write(fd_, &byte, 1);
        if (put == 1) {
            return 1;
        }
        if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return -1;
        }
        if (const Wait wait = WaitFor(POLLOUT, deadline); wait != Wait::Ready) {
            return ByteResult(wait);
        }
    }
}

void PosixPort::DiscardInput() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (fd_ < 0) {
        return;
    }
    tcflush(fd_, TCIFLUSH);
    aheadPos_ = aheadEnd_ = 0;
}

bool PosixPort::Close() {
    if (closing_.exchange(true)) {
        return false;
    }
    const std::uint8_t wake = 1;
    const ssize_t woken = write(wakeWrite_, &wake, 1);
    std::lock_guard<std::mutex> guard(mutex_);
    if (woken == 1) {
        std::uint8_t taken = 0;
        const ssize_t ignored = read(wakeRead_, &taken, 1);
        static_cast<void>(ignored);
    }
    // Unlike the Windows driver, write() returns once a byte is queued, not sent: give the queue
    // the write bound to leave, then drop what CTS still holds, or close() would wait for it for
    // the driver's closing time (30 s).
    AwaitDrain(Clock::now() + WriteBound());
    tcflush(fd_, TCOFLUSH);
    RestoreLine(fd_, found_);
    // Exclusive mode stays on the tty while anyone else still has it open; clear it so the next
    // open is not refused.
    ioctl(fd_, TIOCNXCL);
    flock(fd_, LOCK_UN);
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    close(wakeRead_);
    close(wakeWrite_);
    return closed;
}

// What open()'s error says about the device. EBUSY is a tty that another program opened in
// exclusive mode.
OpenFailure OpenKind(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return OpenFailure::PermissionDenied;
    case EBUSY:
        return OpenFailure::InUse;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailure::NoDevice;
    default:
        return OpenFailure::Other;
    }
}

// Who may open the device: its group (dialout for most serial devices), its owner and its mode,
// so the user can be told whether joining the group would help.
PortOpenFailure Refusal(OpenFailure kind, const std::string& path) {
    PortOpenFailure failure{.Kind = kind, .Device = path};
    struct stat info {};
    if (kind != OpenFailure::PermissionDenied || stat(path.c_str(), &info) != 0) {
        return failure;
    }
    long size = std::max(sysconf(_SC_GETGR_R_SIZE_MAX), sysconf(_SC_GETPW_R_SIZE_MAX));
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
    group entry{};
    group* found = nullptr;
    while (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    failure.Group = found != nullptr ? std::string(found->gr_name) : std::to_string(info.st_gid);
    passwd user{};
    passwd* owner = nullptr;
    while (getpwuid_r(info.st_uid, &user, buffer.data(), buffer.size(), &owner) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    failure.Owner = owner != nullptr ? std::string(owner->pw_name) : std::to_string(info.st_uid);
    failure.Mode = info.st_mode;
    return failure;
}

} // namespace

void SetOutputQueueQuery(OutputQueueQuery query) {
    outputQueueQuery.store(query != nullptr ? query : DeviceOutputQueue);
}

std::shared_ptr<PortDevice> OpenPlatformPort(const char* name, std::uint32_t baudRate,
                                             std::uint32_t readTimeoutMs) {
    const std::string path = ResolveComName(name);
    if (path.empty()) {
        RecordOpenFailure(name, {.Kind = OpenFailure::NoDevice});
        return nullptr;
    }
    speed_t speed{};
    if (!FindSpeedCode(baudRate, &speed)) {
        RecordOpenFailure(name, {.Kind = OpenFailure::Other, .Device = path});
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        RecordOpenFailure(name, Refusal(OpenKind(errno), path));
        return nullptr;
    }
    int wake[2] = {-1, -1};
    if (!Claim(fd)) {
        RecordOpenFailure(name, {.Kind = OpenFailure::InUse, .Device = path});
        close(fd);
        return nullptr;
    }
    FoundLine found;
    if (tcgetattr(fd, &found.Settings) != 0) {
        RecordOpenFailure(name, {.Kind = OpenFailure::Other, .Device = path});
        ioctl(fd, TIOCNXCL);
        close(fd);
        return nullptr;
    }
    if (!SetLine(fd, speed) || !OpenWakePipe(wake)) {
        RecordOpenFailure(name, {.Kind = OpenFailure::Other, .Device = path});
        RestoreLine(fd, found);
        ioctl(fd, TIOCNXCL);
        close(fd);
        return nullptr;
    }
    SetControlLines(fd, found);
    // A board whose last run was killed may have answered after it: those bytes belong to no
    // request of this run.
    tcflush(fd, TCIFLUSH);
    return std::make_shared<PosixPort>(fd, wake, readTimeoutMs, found);
}
