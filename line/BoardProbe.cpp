#include "line/BoardProbe.h"

#include "link/BootCommands.h"
#include "link/ComPort.h"
#include "link/Packet.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <iterator>

#include <thread>

namespace {

ProbedPort Probe(const std::string& port, std::uint32_t baudRate, std::uint32_t readTimeoutMs) {
    ProbedPort probed;
    probed.Port = port;
    const ComHandle handle = OpenComPort(port.c_str(), baudRate, readTimeoutMs);
    if (handle == InvalidComHandle) {
        probed.Failure = LastOpenFailure(port.c_str());
        probed.Finding = FindingOfFailure(probed.Failure);
        return probed;
    }
    probed.Device = -1;
    probed.Code = ProbeDeviceId(handle, &probed.Device);
    CloseComPort(handle);
    probed.Finding = FindingOfReply(probed.Code, probed.Device);
    return probed;
}

} // namespace

PortFinding FindingOfFailure(const PortOpenFailure& failure) {
    switch (failure.Kind) {
    case OpenFailure::NoDevice:
        return PortFinding::NoDevice;
    case OpenFailure::InUse:
        return PortFinding::InUse;
    case OpenFailure::PermissionDenied:
        return PortFinding::Refused;
    default:
        return PortFinding::NotOpened;
    }
}

PortFinding FindingOfReply(std::int32_t code, int device) {
    if (code == PacketResult::TimedOut || code == PacketResult::ReadFailed ||
        code == PacketResult::NotWritten) {
        return PortFinding::NoAnswer;
    }
    return code < 0 || device < 0 ? PortFinding::NotUnderstood : PortFinding::Device;
}

std::vector<ProbedPort> ProbePorts(const std::vector<std::string>& ports, std::uint32_t baudRate,
                                   std::uint32_t readTimeoutMs) {
    std::vector<ProbedPort> probed(ports.size());
    std::vector<std::thread> probes;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        probes.emplace_back([&probed, &ports, i, baudRate, readTimeoutMs] {
            probed[i] = Probe(ports[i], baudRate, readTimeoutMs);
        });
    }
    for (std::thread& probe : probes) {
        probe.join();
    }
    return probed;
}

bool BoardAnswered(const ProbedPort& probed) {
    return probed.Finding == PortFinding::Device || probed.Finding == PortFinding::NotUnderstood;
}

FoundBoards FindBoards(const std::vector<std::string>& ports) {
    // A board answers a device read within milliseconds; a silent port is given up on after
    // this, all of them at once.
    constexpr std::uint32_t ProbeTimeoutMs = 1000;
    FoundBoards found;
    found.Probed = ProbePorts(ports, TargetProfile.BaudRate,
                              std::min(ProbeTimeoutMs, TargetProfile.ReadTimeoutMs.load()));
    const std::string expected = TargetProfile.DeviceNumber.load();
    for (const ProbedPort& port : found.Probed) {
        if (port.Finding == PortFinding::Device && std::to_string(port.Device) == expected) {
            found.Boards.push_back(port.Port);
        } else if (BoardAnswered(port)) {
            found.FailedChecks.emplace(port.Port, port);
        }
    }
    return found;
}

PortRole RoleOf(const FoundBoards& found, const std::string& port) {
    if (found.FailedChecks.contains(port)) {
        return PortRole::FailedCheck;
    }
    return std::find(found.Boards.begin(), found.Boards.end(), port) != found.Boards.end()
               ? PortRole::Board
               : PortRole::Skipped;
}

std::vector<std::string> AnsweredPorts(const FoundBoards& found,
                                       const std::vector<std::string>& ports) {
    std::vector<std::string> answered;
    std::copy_if(
        ports.begin(), ports.end(), std::back_inserter(answered),
        [&found](const std::string& port) { return RoleOf(found, port) != PortRole::Skipped; });
    return answered;
}
