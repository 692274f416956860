#include "target/Connection.h"

#include "link/BootCommands.h"
#include "link/ComPort.h"
#include "target/TargetProfile.h"

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

} // namespace

void SetPortQuestion(PortQuestion newQuestion) {
    std::lock_guard<std::mutex> guard(questionLock);
    question = std::move(newQuestion);
}

std::int32_t ConnectTarget() {
    ProgressTotal = 100;
    if (TargetProfile.Connected == 1) {
        return TargetProfile.PortIndex;
    }
    ProgressCount = 0;

    bool accepted = false;
    for (int index = 0; index < PortNameCount; ++index) {
        const char* name = PortNameTable[index];
        TargetProfile.PortIndex = index;
        TargetProfile.PortName = name;
        TargetProfile.PortHandle =
            OpenComPort(name, TargetProfile.BaudRate, TargetProfile.ReadTimeoutMs);
        if (TargetProfile.PortHandle == InvalidComHandle) {
            continue;
        }
        if (AskAboutPort(name)) {
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

    TargetProfile.Connected = 1;
    ProgressCount = 50;
    char number[8] = {};
    std::int32_t read = ReadDeviceId(number);
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

std::int32_t DisconnectTarget() {
    if (TargetProfile.Connected == 1) {
        TargetProfile.Connected = 0;
        if (!ClosePort()) {
            return ConnectResult::CloseFailed;
        }
    }
    return ConnectResult::Disconnected;
}
