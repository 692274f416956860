#pragma once
// Where COM names lead, as the command line shows and compares them; one implementation per
// platform.

#include <string>
#include <string_view>

// The device shown beside a COM name: the device path on Linux, the registry's serial map entry
// on Windows; "" when none is known.
std::string ShownDevice(const char* name);

// The same key for two names of the same device ("" when the name leads to none), so that
// --port matches whichever name the scan reaches the device by.
std::string DeviceKey(const std::string& name);

// Whether `ports` should try to open the name: on Linux only a name that leads to a device.
bool WorthOpening(const char* name);

// "\\.\COM12" and "com12" name the same port as "COM12".
std::string PlainComName(std::string_view name);
