#include "cli/PortMap.h"

#include "link/PortNames.h"

#include <filesystem>
#include <system_error>

std::string ShownDevice(const char* name) {
    return ResolveComName(name);
}

// Links in a ports folder and the device itself must compare equal.
std::string DeviceKey(const std::string& name) {
    const std::string path = ResolveComName(name.c_str());
    if (path.empty()) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path device = std::filesystem::canonical(path, ec);
    return ec ? std::string() : device.string();
}

bool WorthOpening(const char* name) {
    return !ResolveComName(name).empty();
}
