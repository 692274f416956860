#pragma once
// The bootloader commands against an in-memory line: the requests as sent, and replies made to
// order.

#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/TargetProfile.h"
#include "tests/support/MemoryPort.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

inline std::uint32_t AddressOf(const Bytes& request) {
    return std::uint32_t{request[2]} | std::uint32_t{request[3]} << 8 |
           std::uint32_t{request[4]} << 16;
}

// A board's memory as far as reads go: the reply echoes the request header, then brings the
// bytes asked for (the count byte is in units), 0xFF beyond the image.
inline MemoryPort::Responder FakeMemory(const Bytes& image, std::uint8_t unit) {
    return [&image, unit](const Bytes& request) {
        std::size_t address = AddressOf(request) * unit;
        Bytes reply(request.begin(), request.begin() + 5);
        for (std::size_t i = 0; i < std::size_t{request[1]} * unit; ++i) {
            reply.push_back(address + i < image.size() ? image[address + i] : 0xFF);
        }
        return Frame(reply);
    };
}

inline Bytes Pattern(std::size_t n) {
    Bytes bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return bytes;
}

// A read reply carrying the given data after a five-byte header.
inline Bytes ReadReply(const Bytes& data) {
    Bytes payload{0x01, 0x00, 0x00, 0x00, 0x00};
    payload.insert(payload.end(), data.begin(), data.end());
    return Frame(payload);
}

class BootTest : public testing::Test {
protected:
    void SetUp() override {
        LoadDefaults();
        TargetProfile.PortHandle = link.handle;
    }
    void TearDown() override {
        CloseComPort(link.handle);
        LoadDefaults();
    }

    AttachedPort link = AttachMemoryPort();
};
