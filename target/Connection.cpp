#include "target/Connection.h"

#include "link/BootCommands.h"
#include "link/ComPort.h"
#include "target/TargetProfile.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

// The hook is installed by the user-interface thread and called from whichever thread connects.
std::mutex questionLock;
PortQuestion question;

bool AskAboutPort(const char* portName) {
    PortQuestion ask;
    {
        std::lock_guard<std::mutex> guard(questionLock);
        ask = question;
    }
    return ask ? ask(portName, PortQuestionCaption) : false;
}

// A closed handle is never used again, so the profile forgets it whatever the close reports.
bool ClosePort() {
    int closed = CloseComPort(TargetProfile.PortHandle);
    TargetProfile.PortHandle = InvalidComHandle;
    return closed != 0;
}

bool IsExpectedDevice(const char* number) {
    const char* expected = TargetProfile.DeviceNumber;
    return expected != nullptr && std::strcmp(number, expected) == 0;
}

std::atomic<std::int32_t> deviceRead{-1};

// The first request of a job: whatever the line still holds from before (a killed run's last
// reply) is dropped, or it would be taken for this answer. The number is kept, so that what is
// said about the board names the very number that was judged.
std::int32_t ReadJobDevice(char* number) {
    deviceRead = -1;
    DiscardComInput(TargetProfile.PortHandle);
    const std::int32_t read = ReadJobDeviceId(number);
    if (read >= 0) {
        deviceRead = std::atoi(number);
    }
    return read;
}

} // namespace

void SetPortQuestion(PortQuestion newQuestion) {
    std::lock_guard<std::mutex> guard(questionLock);
    question = std::move(newQuestion);
}

namespace {

// Reads the device number on the open port and keeps the port only for the expected device.
std::int32_t CheckDevice() {
    TargetProfile.Connected = 1;
    ProgressCount = 50;
    char number[8] = {};
    std::int32_t read = ReadJobDevice(number);
    ProgressCount = 80;
    if (read < 0) {
        if (!ClosePort()) {
            return ConnectResult::CloseFailed;
        }
        TargetProfile.Connected = 0;
        ProgressCount = 100;
        return read;
    }
    if (!IsExpectedDevice(number)) {
        if (!ClosePort()) {
            return ConnectResult::CloseFailed;
        }
        TargetProfile.Connected = 0;
        return ConnectResult::WrongDevice;
    }
    ProgressCount = 100;
    return TargetProfile.PortIndex;
}

// A port kept open from an earlier job may lead to a board unplugged or replaced since: it is
// kept only when the expected device still answers on it. True when it was kept.
bool StillConnected() {
    ProgressCount = 50;
    char number[8] = {};
    if (ReadJobDevice(number) > 0 && IsExpectedDevice(number)) {
        ProgressCount = 100;
        return true;
    }
    // The handle is forgotten whatever the close reports, so the connection is over either way.
    ClosePort();
    TargetProfile.Connected = 0;
    return false;
}

// Opens the ports from first to last in table order, asking about each that opens when ask is
// set (accepting it otherwise), then checks the device on the accepted one.
std::int32_t ConnectWithin(int first, int last, bool ask) {
    ProgressTotal = 100;
    if (TargetProfile.Connected == 1) {
        const int index = TargetProfile.PortIndex;
        if (index < first || index > last) {
            ClosePort();
            TargetProfile.Connected = 0;
        } else if (StillConnected()) {
            return index;
        }
    }
    ProgressCount = 0;

    bool accepted = false;
    for (int index = first; index <= last; ++index) {
        const char* name = PortNameTable[index];
        TargetProfile.PortIndex = index;
        TargetProfile.PortName = name;
        TargetProfile.PortHandle =
            OpenComPort(name, TargetProfile.BaudRate, TargetProfile.ReadTimeoutMs);
        if (TargetProfile.PortHandle == InvalidComHandle) {
            continue;
        }
        if (!ask || AskAboutPort(name)) {
            ProgressCount = 10;
            accepted = true;
            break;
        }
        ProgressCount = 0;
        if (!ClosePort()) {
            return ConnectResult::CloseFailed;
        }
    }
    if (!accepted) {
        return ConnectResult::NoPortAccepted;
    }
    return CheckDevice();
}

} // namespace

std::int32_t ConnectTarget() {
    return ConnectWithin(0, PortNameCount - 1, true);
}

std::int32_t ConnectNamedTarget(int index) {
    if (index < 0 || index >= PortNameCount) {
        ProgressTotal = 100;
        return ConnectResult::NoPortAccepted;
    }
    return ConnectWithin(index, index, false);
}

std::int32_t LastDeviceNumber() {
    return deviceRead;
}

std::int32_t DisconnectTarget() {
    if (TargetProfile.Connected == 1) {
        TargetProfile.Connected = 0;
        if (!ClosePort()) {
            return ConnectResult::CloseFailed;
        }
    }
    return ConnectResult::Disconnected;
}
