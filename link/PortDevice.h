#pragma once
// What stands behind a ComHandle: a real serial device or, in tests and the simulated board's
// in-process mode, an object of the program's own.

#include "link/ComPort.h"

#include <cstdint>
#include <memory>

class PortDevice {
public:
    virtual ~PortDevice() = default;
    // Same results as ReadComByte and WriteComByte.
    virtual int ReadByte(std::uint8_t* byte) = 0;
    virtual int WriteByte(std::uint8_t byte) = 0;
    // Releases the device; false when closing failed.
    virtual bool Close() = 0;
    virtual std::uint32_t ReadTimeoutMs() const = 0;
    // Drops bytes received and not read yet. A device held in memory answers only what was
    // asked of it and keeps nothing from an earlier owner, so it has nothing to drop.
    virtual void DiscardInput() {}
};

// Registers an open device under a fresh handle.
ComHandle AttachPortDevice(std::shared_ptr<PortDevice> device);

// The device behind a handle, or null for an invalid, unknown or closed handle.
std::shared_ptr<PortDevice> FindPortDevice(ComHandle handle);

// Opens the platform's serial device for a COM name or path (one file per platform).
std::shared_ptr<PortDevice> OpenPlatformPort(const char* name, std::uint32_t baudRate,
                                             std::uint32_t readTimeoutMs);
