#include "link/PortNames.h"

// Windows opens COM names itself, the device-namespace form included.
std::string ResolveComName(const char* name) {
    return name == nullptr ? std::string() : name;
}

std::string StableDeviceName(const std::string&, const std::string&) {
    return {};
}
