#pragma once
// Devices that exist but that this user may not open, as the last port scan met them: the most
// common first-use failure on Linux, where serial devices belong to a group the user must join.

#include "link/OpenFailure.h"

#include <cstdint>
#include <string>
#include <vector>

// One entry per device refused for permission in the last scan of the COM names, each device
// once; empty when any of them opened (a board could then be reached) or none was refused.
std::vector<PortOpenFailure> PermissionRefusals();

// A device this user may not open: a first line naming it and its group, then what to do: join
// the group when the group may read and write it, else who owns it and who must grant access.
std::string PermissionAdvice(const PortOpenFailure& failure);

// A device's mode as ls shows it ("crw-rw----"), to tell the user who may open it.
std::string DeviceModeText(std::uint32_t mode);
