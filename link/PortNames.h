#pragma once
// Which device a COM name stands for.

#include <string>

// The device path the COM name maps to, "" when it maps to none. A name that is already a path
// (starts with '/') is returned as it stands; on Windows every name is.
std::string ResolveComName(const char* name);
