#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "target/EraseRunMode.h"

#include <cstdio>

int RunRunMode(const RunModeOptions& options) {
    Session session(options.Session);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }
    const std::uint8_t flag = options.Boot ? 0 : 1;
    // One more try on failure, as the desktop program's EXIT button does.
    std::int32_t result = SetRunMode(flag);
    if (result < 0) {
        result = SetRunMode(flag);
    }
    if (result < 0) {
        return Fail(ExitStatus::Finish,
                    Format("setting %s mode failed: %s", options.Boot ? "boot" : "run",
                           DescribeLinkCode(result).c_str()));
    }
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }
    if (!session.Quiet()) {
        std::printf("board set to %s mode\n", options.Boot ? "boot" : "run");
    }
    return ExitStatus::Success;
}
