#pragma once
// The line settings the Win32 port layer writes on every open, apart from the port itself so
// that they can be checked on any record.

#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// 8N1 at the requested speed, output held while CTS is off, DTR off, RTS on, no software flow
// control, and every byte value passed unchanged; the other members keep what the port reports.
void ApplyLineSettings(DCB& dcb, std::uint32_t baudRate);
