#include "cli/PortMap.h"

#include <cctype>

std::string PlainComName(std::string_view name) {
    constexpr std::string_view DeviceNamespace = "\\\\.\\";
    if (name.starts_with(DeviceNamespace)) {
        name.remove_prefix(DeviceNamespace.size());
    }
    std::string plain(name);
    for (char& c : plain) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return plain;
}
