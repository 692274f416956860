#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/PortMap.h"
#include "link/ComPort.h"
#include "target/TargetProfile.h"

#include <cstdio>
#include <string>

int RunPorts() {
    LoadDefaults();
    for (const char* name : PortNameTable) {
        const std::string device = ShownDevice(name);
        const char* state = "no device";
        if (WorthOpening(name)) {
            // Opening is the only sure test; it is closed again at once.
            const ComHandle port =
                OpenComPort(name, TargetProfile.BaudRate, TargetProfile.ReadTimeoutMs);
            state = port == InvalidComHandle ? "does not open (missing or in use)" : "opens";
            if (port != InvalidComHandle) {
                CloseComPort(port);
            }
        }
        std::printf("%-10s  %-24s  %s\n", name, device.empty() ? "-" : device.c_str(), state);
    }
    return ExitStatus::Success;
}
