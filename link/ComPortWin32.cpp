#include "link/ComPortWin32.h"
#include "link/PortDevice.h"
#include "link/PortNames.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace {

// The time-outs that Windows applies to one ReadFile or WriteFile: a read returns at once with
// what is there, else waits up to the read time-out for the first byte; a write may take three
// read time-outs (CTS held off) before it reports a count of 0.
bool SetTimeouts(HANDLE port, std::uint32_t readTimeoutMs, COMMTIMEOUTS& found) {
    if (!GetCommTimeouts(port, &found)) {
        return false;
    }
    COMMTIMEOUTS timeouts = found;
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

} // namespace

void ApplyLineSettings(DCB& dcb, std::uint32_t baudRate) {
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
    // Left on by a previous program, these would corrupt or stop binary traffic: a DSR line
    // that is off would hold or drop bytes, fNull drops every 0x00, fAbortOnError stops all I/O
    // after one line error, and parity checking with fErrorChar replaces bytes.
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fParity = FALSE;
    dcb.fErrorChar = FALSE;
}

namespace {

bool SetLine(HANDLE port, std::uint32_t baudRate, DCB& found) {
    found = DCB{};
    found.DCBlength = sizeof(found);
    if (!GetCommState(port, &found)) {
        return false;
    }
    DCB dcb = found;
    ApplyLineSettings(dcb, baudRate);
    return SetCommState(port, &dcb) != 0;
}

// What the port was set to before this program opened it. A port opened only to be asked about
// (and declined, or found silent) may belong to another program's configuration: closing puts
// these back, so a scan leaves every port it does not use as it found it.
struct FoundLine {
    DCB State{};
    COMMTIMEOUTS Timeouts{};
};

// A closed handle value may be handed out again by Windows at once, so no call may use it after
// CloseHandle: each operation holds the mutex, and Close takes it before closing. Close first
// cancels the operation in flight, so that leaving the program never waits out a time-out.
class Win32Port final : public PortDevice {
public:
    Win32Port(HANDLE port, std::uint32_t readTimeoutMs, const FoundLine& found)
        : port_(port), readTimeoutMs_(readTimeoutMs), found_(found) {}
    ~Win32Port() override {
        Close();
        if (worker_ != nullptr) {
            CloseHandle(worker_);
        }
    }
    Win32Port(const Win32Port&) = delete;
    Win32Port& operator=(const Win32Port&) = delete;

    int ReadByte(std::uint8_t* byte) override {
        std::lock_guard<std::mutex> guard(mutex_);
        DWORD got = 0;
        if (byte == nullptr || !Begin()) {
            return -1;
        }
        const BOOL read = ReadFile(port_, byte, 1, &got, nullptr);
        End();
        if (!read) {
            return -1;
        }
        return got == 1 ? 1 : 0;
    }

    int WriteByte(std::uint8_t byte) override {
        std::lock_guard<std::mutex> guard(mutex_);
        DWORD put = 0;
        if (!Begin()) {
            return -1;
        }
        const BOOL written = WriteFile(port_, &byte, 1, &put, nullptr);
        End();
        if (!written) {
            return -1;
        }
        return put == 1 ? 1 : 0;
    }

    bool Close() override {
        {
            std::lock_guard<std::mutex> guard(state_);
            if (closing_) {
                return false;
            }
            closing_ = true;
        }
        // The operation may be just about to start its call when a cancel finds nothing to
        // cancel, so the cancel repeats until the operation has let go.
        while (!mutex_.try_lock()) {
            CancelInFlight();
            Sleep(1);
        }
        std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
        DCB state = found_.State;
        COMMTIMEOUTS timeouts = found_.Timeouts;
        SetCommState(port_, &state);
        SetCommTimeouts(port_, &timeouts);
        const bool closed = CloseHandle(port_) != 0;
        port_ = INVALID_HANDLE_VALUE;
        return closed;
    }

    std::uint32_t ReadTimeoutMs() const override { return readTimeoutMs_; }

    void DiscardInput() override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (port_ != INVALID_HANDLE_VALUE) {
            PurgeComm(port_, PURGE_RXCLEAR);
        }
    }

private:
    // Marks the calling thread as the one in a transfer; false once the port is closing.
    bool Begin() {
        std::lock_guard<std::mutex> guard(state_);
        if (closing_ || port_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        // The handle is opened once per thread that uses the port, not once per byte.
        const DWORD id = GetCurrentThreadId();
        if (worker_ == nullptr || workerId_ != id) {
            if (worker_ != nullptr) {
                CloseHandle(worker_);
            }
            worker_ = OpenThread(THREAD_TERMINATE, FALSE, id);
            workerId_ = id;
        }
        busy_ = true;
        return true;
    }

    void End() {
        std::lock_guard<std::mutex> guard(state_);
        busy_ = false;
    }

    void CancelInFlight() {
        std::lock_guard<std::mutex> guard(state_);
        if (!busy_) {
            return;
        }
        if (worker_ != nullptr && CancelSynchronousIo(worker_)) {
            return;
        }
        // Where the cancel itself is missing, aborting the port's transfers ends the call. On a
        // system that has it, a purge would wait behind the transfer, so it is not tried there.
        if (worker_ == nullptr || GetLastError() != ERROR_NOT_FOUND) {
            PurgeComm(port_, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
        }
    }

    std::mutex mutex_; // held for a whole transfer
    std::mutex state_; // guards the members below, never held across a transfer
    HANDLE port_;
    const std::uint32_t readTimeoutMs_;
    const FoundLine found_;
    bool closing_ = false;
    bool busy_ = false;
    HANDLE worker_ = nullptr;
    DWORD workerId_ = 0;
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
    FoundLine found;
    if (!SetLine(port, baudRate, found.State)) {
        CloseHandle(port);
        return nullptr;
    }
    if (!SetTimeouts(port, readTimeoutMs, found.Timeouts)) {
        SetCommState(port, &found.State);
        CloseHandle(port);
        return nullptr;
    }
    // A board whose last run was killed may have answered after it: those bytes belong to no
    // request of this run.
    PurgeComm(port, PURGE_RXCLEAR);
    return std::make_shared<Win32Port>(port, readTimeoutMs, found);
}
