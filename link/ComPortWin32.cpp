#include "link/PortDevice.h"
#include "link/PortNames.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// The time-outs that Windows applies to one ReadFile or WriteFile: a read returns at once with
// what is there, else waits up to the read time-out for the first byte; a write may take three
// read time-outs (CTS held off) before it reports a count of 0.
bool SetTimeouts(HANDLE port, std::uint32_t readTimeoutMs) {
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(port, &timeouts)) {
        return false;
    }
    // MAXDWORD itself would change the meaning of the read members, so the constants stay below.
    const auto bounded = [](std::uint64_t ms) {
        return static_cast<DWORD>(std::min<std::uint64_t>(ms, MAXDWORD - 1));
    };
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = bounded(readTimeoutMs);
    timeouts.WriteTotalTimeoutConstant = bounded(3ULL * readTimeoutMs);
    return SetCommTimeouts(port, &timeouts) != 0;
}

// 8N1 at the requested speed, output held while CTS is off, DTR off, RTS on, no XON/XOFF; the
// other members keep what the port reports.
bool SetLine(HANDLE port, std::uint32_t baudRate) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(port, &dcb)) {
        return false;
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    return SetCommState(port, &dcb) != 0;
}

// A closed handle value may be handed out again by Windows at once, so no call may use it after
// CloseHandle: each operation holds the mutex, and Close waits for the one in flight (bounded by
// the time-outs).
class Win32Port final : public PortDevice {
public:
    Win32Port(HANDLE port, std::uint32_t readTimeoutMs)
        : port_(port), readTimeoutMs_(readTimeoutMs) {}
    ~Win32Port() override { Close(); }
    Win32Port(const Win32Port&) = delete;
    Win32Port& operator=(const Win32Port&) = delete;

    int ReadByte(std::uint8_t* byte) override {
        std::lock_guard<std::mutex> guard(mutex_);
        DWORD got = 0;
        if (port_ == INVALID_HANDLE_VALUE || byte == nullptr ||
            !ReadFile(port_, byte, 1, &got, nullptr)) {
            return -1;
        }
        return got == 1 ? 1 : 0;
    }

    int WriteByte(std::uint8_t byte) override {
        std::lock_guard<std::mutex> guard(mutex_);
        DWORD put = 0;
        if (port_ == INVALID_HANDLE_VALUE || !WriteFile(port_, &byte, 1, &put, nullptr)) {
            return -1;
        }
        return put == 1 ? 1 : 0;
    }

    bool Close() override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (port_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool closed = CloseHandle(port_) != 0;
        port_ = INVALID_HANDLE_VALUE;
        return closed;
    }

    std::uint32_t ReadTimeoutMs() const override { return readTimeoutMs_; }

private:
    std::mutex mutex_;
    HANDLE port_;
    const std::uint32_t readTimeoutMs_;
};

} // namespace

std::shared_ptr<PortDevice> OpenPlatformPort(const char* name, std::uint32_t baudRate,
                                             std::uint32_t readTimeoutMs) {
    const std::string path = ResolveComName(name);
    // Share mode 0 makes the open exclusive; no overlapped flag, so transfers are synchronous.
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (!SetLine(port, baudRate) || !SetTimeouts(port, readTimeoutMs)) {
        CloseHandle(port);
        return nullptr;
    }
    return std::make_shared<Win32Port>(port, readTimeoutMs);
}
