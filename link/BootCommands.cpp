#include "link/BootCommands.h"

#include "link/Packet.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint16_t HeaderLength = 5;
constexpr std::uint8_t MaxAddressUnit = 2;
constexpr std::uint8_t DeviceIdBytes = 2;
// The device number is the identity word without its five revision bits.
constexpr unsigned DeviceIdRevisionBits = 5;

// Reply of n stored bytes to a read: five header bytes, the data, the checksum.
constexpr std::int32_t ReplyOverhead = HeaderLength + 1;
static_assert(BootReplyCapacity - ReplyOverhead == MaxBootData,
              "the largest read reply must fit the receive buffer exactly");

using ReplyBuffer = std::array<std::uint8_t, BootReplyCapacity>;

bool IsReadCommand(std::uint8_t code) {
    return code == BootCode::ReadProgram || code == BootCode::ReadEeprom ||
           code == BootCode::ReadConfig;
}

bool IsWriteCommand(std::uint8_t code) {
    return code == BootCode::WriteProgram || code == BootCode::WriteEeprom ||
           code == BootCode::WriteConfig || code == BootCode::WriteOther;
}

// The checks that reads and writes share, after their own command check.
std::int32_t CheckUnitAndCount(const BootCommand& command) {
    if (command.AddressUnit == 0) {
        return BootResult::ZeroUnit;
    }
    if (command.AddressUnit > MaxAddressUnit) {
        return BootResult::UnitTooLarge;
    }
    if (command.WriteBlock < command.AddressUnit) {
        return BootResult::BlockBelowUnit;
    }
    if (command.Count > MaxBootData) {
        return BootResult::CountTooLarge;
    }
    return 0;
}

int DeviceNumberOf(const std::uint8_t* identity) {
    return (identity[1] * 256 + identity[0]) >> DeviceIdRevisionBits;
}

// "2047" and its terminator are the longest text; a read that brought no data gives "0".
void WriteDeviceNumber(char* text, std::int32_t count, const std::uint8_t* identity) {
    std::snprintf(text, 5, "%d", count > 0 ? DeviceNumberOf(identity) : 0);
}

void PutHeader(std::uint8_t* out, std::uint8_t code, std::uint8_t count, std::uint32_t address) {
    out[0] = code;
    out[1] = count;
    out[2] = static_cast<std::uint8_t>(address);
    out[3] = static_cast<std::uint8_t>(address >> 8);
    out[4] = static_cast<std::uint8_t>(address >> 16);
}

} // namespace

std::int32_t BootRead(ComHandle port, const BootCommand& command, std::uint8_t* out) {
    if (!IsReadCommand(command.Command)) {
        return BootResult::BadCommand;
    }
    if (std::int32_t bad = CheckUnitAndCount(command); bad != 0) {
        return bad;
    }
    ReplyBuffer buffer{};
    PutHeader(buffer.data(), command.Command,
              static_cast<std::uint8_t>(command.Count / command.AddressUnit), command.Address);
    std::int32_t stored =
        ExchangePacket(port, buffer.data(), HeaderLength, BootReplyCapacity, command.Retries);
    if (stored < 0) {
        return stored;
    }
    // The data count is what the target sent, not what was asked for.
    std::int32_t count = std::max(stored - ReplyOverhead, 0);
    std::copy_n(buffer.begin() + HeaderLength, count, out);
    return count;
}

std::int32_t BootWrite(ComHandle port, const BootCommand& command, const std::uint8_t* data) {
    if (!IsWriteCommand(command.Command)) {
        return BootResult::BadCommand;
    }
    if (std::int32_t bad = CheckUnitAndCount(command); bad != 0) {
        return bad;
    }
    if (command.Address % command.WriteBlock != 0 || command.Count % command.WriteBlock != 0) {
        return BootResult::Misaligned;
    }
    ReplyBuffer buffer{};
    PutHeader(buffer.data(), command.Command,
              static_cast<std::uint8_t>(command.Count / command.WriteBlock), command.Address);
    std::copy_n(data, command.Count, buffer.begin() + HeaderLength);
    auto length = static_cast<std::uint16_t>(HeaderLength + command.Count);
    std::int32_t stored =
        ExchangePacket(port, buffer.data(), length, BootReplyCapacity, command.Retries);
    return stored < 0 ? stored : command.Count;
}

std::int32_t BootErase(ComHandle port, std::uint32_t address, std::uint8_t rows,
                       std::uint8_t attempts) {
    ReplyBuffer buffer{};
    PutHeader(buffer.data(), BootCode::EraseProgram, rows, address);
    std::int32_t stored =
        ExchangePacket(port, buffer.data(), HeaderLength, BootReplyCapacity, attempts);
    // A reply shorter than two bytes leaves the request's row count in place.
    return stored < 0 ? stored : buffer[1];
}

std::int32_t BootVerify(ComHandle port, const BootCommand& command, const std::uint8_t* expected) {
    if (!IsReadCommand(command.Command)) {
        return BootResult::BadCommand;
    }
    ReplyBuffer actual{};
    std::int32_t count = BootRead(port, command, actual.data());
    if (count < 0) {
        return count;
    }
    // The caller holds Count expected bytes: a reply that carries more is compared only that far,
    // never past the caller's bytes.
    const std::int32_t compared = std::min<std::int32_t>(count, command.Count);
    if (!std::equal(actual.begin(), actual.begin() + compared, expected)) {
        return BootResult::VerifyMismatch;
    }
    return compared;
}

std::int32_t ReadDeviceId(char* text) {
    ComHandle port = TargetProfile.PortHandle;
    if (port == InvalidComHandle) {
        return BootResult::NoPort;
    }
    BootCommand command{BootCode::ReadProgram, DeviceIdBytes, DeviceIdAddress, 1, 1,
                        TargetProfile.Retries};
    // Zeroed so that an identity byte the reply does not carry reads as 0.
    std::array<std::uint8_t, MaxBootData> identity{};
    std::int32_t count = BootRead(port, command, identity.data());
    WriteDeviceNumber(text, count, identity.data());
    return count;
}

std::int32_t ReadJobDeviceId(char* text) {
    const ComHandle port = TargetProfile.PortHandle;
    if (port == InvalidComHandle) {
        return BootResult::NoPort;
    }
    ReplyBuffer request{};
    PutHeader(request.data(), BootCode::ReadProgram, DeviceIdBytes, DeviceIdAddress);
    ReplyBuffer buffer = request;
    std::int32_t stored =
        ExchangePacket(port, buffer.data(), HeaderLength, BootReplyCapacity, TargetProfile.Retries);
    if (stored >= HeaderLength &&
        !std::equal(request.begin(), request.begin() + HeaderLength, buffer.begin())) {
        stored = ReceivePacket(port, buffer.data(), BootReplyCapacity);
        if (stored == PacketResult::TimedOut || stored == PacketResult::BadChecksum) {
            buffer = request;
            stored = ExchangePacket(port, buffer.data(), HeaderLength, BootReplyCapacity,
                                    TargetProfile.Retries);
        }
    }
    const std::int32_t count = stored < 0 ? stored : std::max(stored - ReplyOverhead, 0);
    std::array<std::uint8_t, DeviceIdBytes> identity{};
    std::copy_n(buffer.begin() + HeaderLength, std::clamp<std::int32_t>(count, 0, DeviceIdBytes),
                identity.begin());
    WriteDeviceNumber(text, count, identity.data());
    return count;
}

std::int32_t ProbeDeviceId(ComHandle port, int* number) {
    ReplyBuffer buffer{};
    PutHeader(buffer.data(), BootCode::ReadProgram, DeviceIdBytes, DeviceIdAddress);
    const std::int32_t sent = SendPacket(port, buffer.data(), HeaderLength);
    if (sent < 0) {
        return sent;
    }
    const std::int32_t stored = ReceivePacket(port, buffer.data(), BootReplyCapacity);
    if (stored < 0) {
        return stored;
    }
    const std::int32_t count = std::max(stored - ReplyOverhead, 0);
    if (count >= DeviceIdBytes) {
        *number = DeviceNumberOf(buffer.data() + HeaderLength);
    }
    return count;
}

// Works in bytes: position and span are 64-bit so that the last addresses of the 32-bit range
// neither wrap nor loop for ever. With two bytes per unit the span and every chunk are whole
// units: the last unit brings both its bytes, and a chunk limit of an odd number of bytes is
// rounded down, since the request counts units. A chunk is never less than one unit, so every
// request moves the position on.
std::int32_t ReadMemoryRange(std::uint32_t first, std::uint32_t last, std::uint8_t unit,
                             std::uint8_t readCommand, std::uint8_t* out) {
    if (unit == 0) {
        return BootResult::ZeroUnit;
    }
    const std::uint64_t firstByte = std::uint64_t{first} * unit;
    const std::uint64_t endByte = (std::uint64_t{last} + 1) * unit;
    std::uint32_t maxChunk = TargetProfile.MaxReadCount;
    maxChunk = std::max<std::uint32_t>(maxChunk - maxChunk % unit, unit);

    std::int32_t result = 0;
    for (std::uint64_t position = firstByte; position < endByte;) {
        auto chunk =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(maxChunk, endByte - position));
        BootCommand command{readCommand,
                            static_cast<std::uint8_t>(chunk),
                            static_cast<std::uint32_t>(position / unit),
                            unit,
                            unit,
                            TargetProfile.Retries};
        ReplyBuffer data{};
        std::int32_t count = BootRead(TargetProfile.PortHandle, command, data.data());
        if (count < 0) {
            return count;
        }
        std::copy_n(data.begin(), std::min<std::uint32_t>(static_cast<std::uint32_t>(count), chunk),
                    out + (position - firstByte));
        result = count;
        position += chunk;
    }
    return result;
}
