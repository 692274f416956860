#pragma once
// A serial device's line as the POSIX port layer sets it on open and gives it back on close.

#include <cstdint>

#include <termios.h>

// What the line was set to before this program opened it. A port opened only to be asked about
// (and declined, or found silent) may belong to another program's configuration: closing puts
// these back, so a scan leaves every port it does not use as it found it.
struct FoundLine {
    termios Settings{};
    bool LowLatencySet = false; // the open switched the driver's low latency on
};

// The termios code of a speed in bit/s; false when the system has none.
bool FindSpeedCode(std::uint32_t baud, speed_t* code);
// Keeps other openers of the device out; false when another holds it.
bool Claim(int fd);
// Sets the line's mode and speed; false when the device refuses.
bool SetLine(int fd, speed_t speed);
// Sets the modem lines and the driver's latency, noting in found what to give back.
void SetControlLines(int fd, FoundLine& found);
// Puts back what found noted.
void RestoreLine(int fd, const FoundLine& found);
