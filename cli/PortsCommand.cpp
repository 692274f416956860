#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "cli/PortMap.h"
#include "link/ComPort.h"
#include "link/OpenFailure.h"
#include "link/PortNames.h"
#include "target/PortRefusals.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string StateText(const PortOpenFailure& failure) {
    switch (failure.Kind) {
    case OpenFailure::None:
        return "opens";
    case OpenFailure::NoDevice:
        return "no device";
    case OpenFailure::PermissionDenied:
        return "permission denied (group " + failure.Group + ")";
    case OpenFailure::InUse:
        return "in use";
    case OpenFailure::Other:
        break;
    }
    return "does not open";
}

} // namespace

int RunPorts() {
    LoadDefaults();
    std::vector<PortOpenFailure> refused;
    for (const char* name : PortNameTable) {
        const std::string device = ShownDevice(name);
        std::string state = "no device";
        if (WorthOpening(name)) {
            // Opening is the only sure test; it is closed again at once.
            const ComHandle port =
                OpenComPort(name, TargetProfile.BaudRate, TargetProfile.ReadTimeoutMs);
            if (port != InvalidComHandle) {
                CloseComPort(port);
            }
            const PortOpenFailure failure = LastOpenFailure(name);
            state = StateText(failure);
            // One piece of advice per group to join, since joining it opens all of its devices;
            // one per device where no group helps.
            const auto sameAdvice = [&failure](const PortOpenFailure& r) {
                return failure.JoiningGroupHelps()
                           ? r.JoiningGroupHelps() && r.Group == failure.Group
                           : r.Device == failure.Device;
            };
            if (failure.Kind == OpenFailure::PermissionDenied &&
                std::none_of(refused.begin(), refused.end(), sameAdvice)) {
                refused.push_back(failure);
            }
        }
        std::printf("%-10s  %-24s  %s\n", name, device.empty() ? "-" : device.c_str(),
                    state.c_str());
        // USB adapters also have a name that stays with the adapter, whichever port it is in.
        if (const std::string stable = StableDeviceName(device); !stable.empty()) {
            std::printf("%-10s  %s\n", "", stable.c_str());
        }
    }
    for (const PortOpenFailure& failure : refused) {
        std::printf("\n%s\n", PermissionAdvice(failure).c_str());
    }
    return ExitStatus::Success;
}
