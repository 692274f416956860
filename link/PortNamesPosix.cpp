#include "link/PortNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Windows' device-namespace prefix, as in "\\.\COM12".
constexpr std::string_view DeviceNamespace = "\\\\.\\";

// The number of a COM name ("COM12" or "\\.\COM12"), 0 for anything else. Windows takes the
// names in any case, so this does too.
unsigned ComNumber(std::string_view name) {
    if (name.starts_with(DeviceNamespace)) {
        name.remove_prefix(DeviceNamespace.size());
    }
    if (name.size() < 4 || name.size() > 6) {
        return 0;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    name.remove_prefix(3);
    if (name.front() == '0') {
        return 0;
    }
    unsigned number = 0;
    for (char c : name) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return number;
}

bool HasEntries(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    return !ec && it != fs::directory_iterator();
}

// $TERVIX_PORTS, else the user's ports folder when it holds anything; empty when the devices
// present make the map instead.
fs::path PortsFolder() {
    if (const char* env = std::getenv("TERVIX_PORTS"); env != nullptr && *env != '\0') {
        return env;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        return {};
    }
    fs::path folder = fs::path(home) / ".config" / "tervix" / "ports";
    return HasEntries(folder) ? folder : fs::path();
}

// The kernel makes a ttyS node for every UART slot it reserves; only those with a known UART type
// have hardware behind them. The type is read from sysfs rather than with TIOCGSERIAL, because
// opening each node to ask would raise DTR on whatever is wired to it.
bool HasUart(const std::string& node) {
    constexpr int UnknownUartType = 0; // PORT_UNKNOWN
    std::ifstream in("/sys/class/tty/" + node + "/type");
    int type = UnknownUartType;
    return static_cast<bool>(in >> type) && type != UnknownUartType;
}

// USB adapters first, then modems, then the built-in UARTs, each in numeric order.
std::vector<std::string> SerialDevices() {
    constexpr std::string_view Stems[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<std::pair<unsigned long, std::string>> found[std::size(Stems)];
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/dev", ec)) {
        const std::string node = entry.path().filename().string();
        for (std::size_t kind = 0; kind < std::size(Stems); ++kind) {
            const std::string_view digits = std::string_view(node).substr(
                node.starts_with(Stems[kind]) ? Stems[kind].size() : node.size());
            if (digits.empty() || digits.size() > 6 ||
                !std::all_of(digits.begin(), digits.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                continue;
            }
            if (kind == 2 && !HasUart(node)) {
                continue;
            }
            found[kind].emplace_back(std::stoul(std::string(digits)), entry.path().string());
        }
    }
    std::vector<std::string> devices;
    for (auto& kind : found) {
        std::sort(kind.begin(), kind.end());
        for (auto& device : kind) {
            devices.push_back(std::move(device.second));
        }
    }
    return devices;
}

} // namespace

std::string ResolveComName(const char* name) {
    if (name == nullptr) {
        return {};
    }
    if (name[0] == '/') {
        return name;
    }
    const unsigned number = ComNumber(name);
    if (number == 0) {
        return {};
    }
    if (const fs::path folder = PortsFolder(); !folder.empty()) {
        // The entries are usually links; the device they lead to is what the user wants to see.
        std::error_code ec;
        const fs::path device = fs::canonical(folder / ("COM" + std::to_string(number)), ec);
        return ec ? std::string() : device.string();
    }
    const std::vector<std::string> devices = SerialDevices();
    return number <= devices.size() ? devices[number - 1] : std::string();
}

std::string StableDeviceName(const std::string& device, const std::string& folder) {
    std::error_code ec;
    const fs::path target = fs::canonical(device, ec);
    if (ec) {
        return {};
    }
    // Sorted, so that a device with two names always shows the same one.
    std::vector<fs::path> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        std::error_code linkError;
        if (fs::canonical(entry.path(), linkError) == target && !linkError) {
            names.push_back(entry.path());
        }
    }
    return names.empty() ? std::string() : std::min_element(names.begin(), names.end())->string();
}
