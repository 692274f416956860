#include "line/PortWatch.h"

#include "link/BootCommands.h"
#include "link/Packet.h"

#include <utility>

PortWatch::PortWatch(std::string port, std::uint32_t baudRate, std::uint32_t readTimeoutMs)
    : port_(std::move(port)), baudRate_(baudRate), readTimeoutMs_(readTimeoutMs) {}

PortWatch::~PortWatch() {
    Release();
}

ProbedPort PortWatch::Look() {
    ProbedPort probed;
    probed.Port = port_;
    if (handle_ == InvalidComHandle) {
        handle_ = OpenComPort(port_.c_str(), baudRate_, readTimeoutMs_);
        if (handle_ == InvalidComHandle) {
            probed.Failure = LastOpenFailure(port_.c_str());
            probed.Finding = FindingOfFailure(probed.Failure);
            return probed;
        }
    }
    // A reply that came after the last look gave up on it would pass for this one's.
    DiscardComInput(handle_);
    probed.Device = -1;
    probed.Code = ProbeDeviceId(handle_, &probed.Device);
    probed.Finding = FindingOfReply(probed.Code, probed.Device);
    // A quiet line stays open; one whose read or write call failed leads nowhere any more (the
    // write failures are the codes from StartWriteFailed down).
    if (probed.Code == PacketResult::ReadFailed || probed.Code <= PacketResult::StartWriteFailed) {
        probed.Finding = PortFinding::NoAnswer;
        Release();
    }
    return probed;
}

void PortWatch::Release() {
    if (handle_ != InvalidComHandle) {
        CloseComPort(handle_);
        handle_ = InvalidComHandle;
    }
}
