#include "link/TtyLinePosix.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>

#include <sys/file.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace {

struct SpeedCode {
    std::uint32_t baud;
    speed_t code;
};

constexpr SpeedCode SpeedCodes[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B14400
    {14400, B14400},
#endif
#ifdef B28800
    {28800, B28800},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
};

} // namespace

bool FindSpeedCode(std::uint32_t baud, speed_t* code) {
    const auto* it = std::find_if(std::begin(SpeedCodes), std::end(SpeedCodes),
                                  [baud](const SpeedCode& s) { return s.baud == baud; });
    if (it == std::end(SpeedCodes)) {
        return false;
    }
    *code = it->code;
    return true;
}

// The lock is what keeps other openers out: TIOCEXCL refuses a second open of the tty too, but
// root passes it, so it only adds to the lock.
bool Claim(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    ioctl(fd, TIOCEXCL);
    return true;
}

// Raw 8N1, output held while CTS is off, no XON/XOFF. VMIN 1 makes a non-blocking read report
// EAGAIN when nothing is there and 0 only when the line has hung up.
bool SetLine(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD | CRTSCTS);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// DTR off, RTS on. Pseudo-terminals and some adapters have no modem lines; the calls fail there
// and that is fine. Low latency makes USB adapters hand over received bytes at once instead of
// after their latency timer (16 ms on FTDI); drivers that refuse it keep their default.
void SetControlLines(int fd, FoundLine& found) {
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &rts);
#ifdef __linux__
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        found.LowLatencySet = ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
#else
    static_cast<void>(found);
#endif
}

void RestoreLine(int fd, const FoundLine& found) {
    tcsetattr(fd, TCSANOW, &found.Settings);
#ifdef __linux__
    serial_struct serial{};
    if (found.LowLatencySet && ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}
