#include "cli/Session.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"
#include "target/Connection.h"
#include "target/TargetProfile.h"

#include <cstdio>

Session::Session(const SessionOptions& options, BoardOutcome* outcome)
    : choice_(options.Choice), quiet_(options.Quiet),
      progress_(options.ForParent ? ProgressDisplay::Mode::Percent
                                  : ProgressDisplay::ModeFor(stderr, options.Quiet)),
      json_(options.Json), answer_(choice_, progress_), outcome_(outcome) {
    LoadDefaults();
    if (options.TimeoutMs != 0) {
        TargetProfile.ReadTimeoutMs = options.TimeoutMs;
    }
}

Session::~Session() {
    DisconnectTarget();
}

int Session::CheckUsage() const {
    if (PortAnswer::NeedsTerminal(choice_)) {
        return Fail(ExitStatus::Usage,
                    "no terminal to ask which port to use: give --port NAME or --yes");
    }
    return ExitStatus::Success;
}

int Session::Connect() {
    BeginConnect();
    const std::optional<int> named = NamedPort();
    return Connected(named ? ConnectNamedTarget(*named) : ConnectTarget());
}

void Session::BeginConnect() {
    progress_.Begin({"connect", "", 0, 0});
}

// A named port is the only one opened: opening others would lock them against the boards of a
// sibling process and, on a real adapter, reset whatever board is wired to them.
std::optional<int> Session::NamedPort() const {
    return choice_.Port.empty() ? std::nullopt : std::optional<int>(answer_.NamedIndex());
}

int Session::Connected(std::int32_t result) {
    progress_.End(result >= 0);
    if (result >= 0) {
        if (outcome_ != nullptr) {
            outcome_->Device = LastDeviceNumber();
        }
        if (!quiet_) {
            std::fprintf(stderr, "connected to %s, device %s (%s)\n",
                         PortWithDevice(PortNameTable[result]).c_str(),
                         TargetProfile.DeviceNumber.load(), TargetProfile.DeviceName.load());
        }
        return ExitStatus::Success;
    }
    switch (result) {
    case ConnectResult::NoPortAccepted:
        return Fail(ExitStatus::Connection, answer_.NoPortReason());
    case ConnectResult::CloseFailed:
        return Fail(ExitStatus::Connection, "closing a port failed");
    case ConnectResult::WrongDevice:
        return Fail(ExitStatus::Connection, WrongDeviceReason());
    default:
        return Fail(ExitStatus::Connection, Format("device read failed on %s: %s",
                                                   PortWithDevice(TargetProfile.PortName).c_str(),
                                                   DescribeLinkCode(result).c_str()));
    }
}

int Session::Disconnect() {
    return Disconnected(DisconnectTarget());
}

int Session::Disconnected(std::int32_t result) {
    if (result < 0) {
        return Fail(ExitStatus::Finish, "closing the port failed");
    }
    return ExitStatus::Success;
}

// Names the number the connection read and judged: reading it again could meet another answer.
std::string Session::WrongDeviceReason() {
    const std::int32_t number = LastDeviceNumber();
    if (outcome_ != nullptr) {
        outcome_->Device = number;
    }
    return Format("wrong device on %s: device number %d, expected %s (%s)",
                  PortWithDevice(TargetProfile.PortName).c_str(), static_cast<int>(number),
                  TargetProfile.DeviceNumber.load(), TargetProfile.DeviceName.load());
}
