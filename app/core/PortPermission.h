#pragma once
// The box for a connection that found no port because the user may not open the serial devices.

#include <string>

// The text naming the refused devices, their group and the command to join it; empty when the
// last scan opened a port or refused none for permission.
std::string PortPermissionAdvice();
