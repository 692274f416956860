#pragma once
// Which device a COM name stands for.

#include <string>

// The device path the COM name maps to, "" when it maps to none. A name that is already a path
// (starts with '/') is returned as it stands; on Windows every name is.
std::string ResolveComName(const char* name);

// The stable name of a device in folder (on Linux /dev/serial/by-id, whose links name a USB
// adapter by its maker and serial number), "" when it has none there or the platform keeps no
// such names.
std::string StableDeviceName(const std::string& device,
                             const std::string& folder = "/dev/serial/by-id");
