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
        switch (probed.Failure.Kind) {
        case OpenFailure::NoDevice:
            probed.Finding = PortFinding::NoDevice;
            break;
        case OpenFailure::InUse:
            probed.Finding = PortFinding::InUse;
            break;
        case OpenFailure::PermissionDenied:
            probed.Finding = PortFinding::Refused;
            break;
        default:
            probed.Finding = PortFinding::NotOpened;
            break;
        }
        return probed;
    }
    probed.Device = -1;
    probed.Code = ProbeDeviceId(handle, &probed.Device);
    CloseComPort(handle);
    if (probed.Code == PacketResult::TimedOut || probed.Code == PacketResult::ReadFailed ||
        probed.Code == PacketResult::NotWritten) {
        probed.Finding = PortFinding::NoAnswer;
    } else if (probed.Code < 0 || probed.Device < 0) {
        probed.Finding = PortFinding::NotUnderstood;
    } else {
        probed.Finding = PortFinding::Device;
    }
    return probed;
}

} // namespace

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
