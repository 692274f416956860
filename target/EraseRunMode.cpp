#include "target/EraseRunMode.h"

#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdint>
#include <limits>

std::int32_t EraseRangeInRuns(std::uint32_t first, std::uint32_t last,
                              std::uint8_t rowsPerRequest) {
    const std::uint32_t step = TargetProfile.EraseBlock;
    const ComHandle port = TargetProfile.PortHandle;
    // The reply comes back over the request and may fill the whole capacity.
    std::uint8_t buffer[EraseReplyCapacity];
    std::int32_t result = 0;
    std::uint32_t address = first;
    while (address <= last) {
        const std::uint32_t left = step == 0 ? 1 : (last - address) / step + 1;
        const auto rows = static_cast<std::uint8_t>(
            std::min<std::uint32_t>(left, std::max<std::uint8_t>(rowsPerRequest, 1)));
        buffer[0] = BootCode::EraseProgram;
        buffer[1] = rows;
        buffer[2] = static_cast<std::uint8_t>(address);
        buffer[3] = static_cast<std::uint8_t>(address >> 8);
        buffer[4] = static_cast<std::uint8_t>(address >> 16);
        result = ExchangePacket(port, buffer, 5, EraseReplyCapacity, EraseAttempts);
        if (result < 0) {
            return result;
        }
        // A range that reaches the top of the address space, or a block size of 0, would
        // otherwise never leave the loop.
        const std::uint32_t advance = rows * step;
        if (step == 0 || address > std::numeric_limits<std::uint32_t>::max() - advance) {
            break;
        }
        address += advance;
        ProgressCount = static_cast<std::int32_t>(address);
    }
    return result;
}

std::int32_t EraseRange(std::uint32_t first, std::uint32_t last) {
    return EraseRangeInRuns(first, last, 1);
}

std::int32_t EraseForFlash(const char* hexPath) {
    TargetProfile.HexPath = hexPath;
    ProgressTotal = static_cast<std::int32_t>(TargetProfile.ProgramEnd.load());
    return EraseRange(TargetProfile.ProgramStart, TargetProfile.ProgramEnd);
}

std::int32_t SetRunMode(std::uint8_t flag) {
    const BootCommand command{BootCode::WriteEeprom, 1, RunModeFlagAddress, 1, 1,
                              TargetProfile.Retries};
    const std::uint8_t data = flag != 0 ? 0x00 : 0xFF;
    return BootWrite(TargetProfile.PortHandle, command, &data);
}

std::int32_t EnterBootMode() {
    if (const std::int32_t written = SetRunMode(0); written < 0) {
        return written;
    }
    const BootCommand read{BootCode::ReadEeprom, 1, RunModeFlagAddress, 1, 1,
                           TargetProfile.Retries};
    std::uint8_t flag[MaxBootData];
    const std::int32_t count = BootRead(TargetProfile.PortHandle, read, flag);
    if (count < 0) {
        return count;
    }
    return count >= 1 && flag[0] == 0xFF ? 1 : EraseResult::BootModeNotKept;
}

std::int32_t EraseAndProgram(const char* hexPath) {
    TargetProfile.HexPath = hexPath;
    if (EraseRange(TargetProfile.ProgramStart, TargetProfile.ProgramEnd) < 0) {
        return EraseResult::EraseFailed;
    }
    if (ProgramHexFile(hexPath, TargetProfile.WriteBlock, TargetProfile.AddressUnit,
                       BootCode::WriteProgram) < 0) {
        return EraseResult::ProgramFailed;
    }
    return 0;
}
