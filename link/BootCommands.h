#pragma once
// The bootloader's commands: request records, their checks, the five-byte header and the
// decoding of replies.

#include "link/ComPort.h"

#include <cstdint>

struct BootCommand {
    std::uint8_t Command;
    std::uint8_t Count;
    std::uint32_t Address;
    std::uint8_t WriteBlock;
    std::uint8_t AddressUnit;
    std::uint16_t Retries;
};

namespace BootCode {
inline constexpr std::uint8_t ReadProgram = 1;
inline constexpr std::uint8_t WriteProgram = 2;
inline constexpr std::uint8_t EraseProgram = 3;
inline constexpr std::uint8_t ReadEeprom = 4;
inline constexpr std::uint8_t WriteEeprom = 5;
inline constexpr std::uint8_t ReadConfig = 6;
inline constexpr std::uint8_t WriteConfig = 7;
inline constexpr std::uint8_t WriteOther = 8;
} // namespace BootCode

namespace BootResult {
inline constexpr std::int32_t BadCommand = -6;
inline constexpr std::int32_t BlockBelowUnit = -7;
inline constexpr std::int32_t CountTooLarge = -8;
inline constexpr std::int32_t Misaligned = -9;
inline constexpr std::int32_t ZeroUnit = -10;
inline constexpr std::int32_t UnitTooLarge = -11;
inline constexpr std::int32_t VerifyMismatch = -12;
inline constexpr std::int32_t NoPort = -1001;
} // namespace BootResult

inline constexpr std::uint8_t MaxBootData = 250;
inline constexpr std::uint16_t BootReplyCapacity = 256;
inline constexpr std::uint32_t DeviceIdAddress = 0x3FFFFE;

// Returns the number of data bytes placed in out (room for 250 bytes required).
std::int32_t BootRead(ComHandle port, const BootCommand& command, std::uint8_t* out);
// Returns command.Count on success.
std::int32_t BootWrite(ComHandle port, const BootCommand& command, const std::uint8_t* data);
// Returns the second byte of the exchange buffer.
std::int32_t BootErase(ComHandle port, std::uint32_t address, std::uint8_t rows,
                       std::uint8_t attempts);
// Returns the number of bytes compared.
std::int32_t BootVerify(ComHandle port, const BootCommand& command, const std::uint8_t* expected);
// Writes the device number as decimal text into text (at least 5 characters); returns the read's
// data count.
std::int32_t ReadDeviceId(char* text);
// ReadDeviceId for the first request of a job, on a line that may still bring the reply to a
// request sent before the job began (by a run killed while the board worked on it): a reply whose
// header is not this request's is that late reply, and this request's own answer, which follows
// it, is read instead.
std::int32_t ReadJobDeviceId(char* text);
// One device read on port, sent once and never repeated, for looking at many ports quickly:
// returns the reply's data count (the number is stored only when the reply carries both identity
// bytes), or the failure as the framing reports it, so that a silent line (time-out) is told
// apart from replies that are not understood (bad checksum, overlong).
std::int32_t ProbeDeviceId(ComHandle port, int* number);
// Reads first..last (address units) into out in chunks; returns the last chunk's data count.
std::int32_t ReadMemoryRange(std::uint32_t first, std::uint32_t last, std::uint8_t unit,
                             std::uint8_t readCommand, std::uint8_t* out);
