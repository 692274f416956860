#include "cli/PortMap.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The serial map names each port's kernel device ("\Device\Serial0" = "COM1"); a port made by a
// driver that does not register there still opens, so it is never required.
std::string ShownDevice(const char* name) {
    HKEY key = nullptr;
    if (name == nullptr || RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                         KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return {};
    }
    const std::string wanted = PlainComName(name);
    std::string device;
    for (DWORD index = 0; device.empty(); ++index) {
        char value[256];
        DWORD valueSize = sizeof(value);
        BYTE data[256];
        DWORD dataSize = sizeof(data) - 1;
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, value, &valueSize, nullptr, &type, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue; // a value too long for the buffers names no COM port
        }
        data[dataSize] = 0;
        if (PlainComName(reinterpret_cast<const char*>(data)) == wanted) {
            device.assign(value, valueSize);
        }
    }
    RegCloseKey(key);
    return device;
}

// Windows opens "COM3" and "\\.\COM3" as the same port.
std::string DeviceKey(const std::string& name) {
    return PlainComName(name);
}

// Whether a COM name exists shows only by opening it.
bool WorthOpening(const char*) {
    return true;
}
