#include "target/HexProgrammer.h"

#include "link/BootCommands.h"
#include "target/CFile.h"
#include "target/HexFileReader.h"
#include "target/ProgramLog.h"
#include "target/TargetProfile.h"

#include <bit>
#include <cstdio>
#include <memory>

namespace {

class RowSender {
public:
    RowSender(std::FILE* log, std::uint8_t writeBlock, std::uint8_t addressUnit,
              std::uint8_t writeCommand, ImageFailure& rows)
        : log_(log), rows_(rows), port_(TargetProfile.PortHandle), retries_(TargetProfile.Retries),
          writeBlock_(writeBlock), addressUnit_(addressUnit), writeCommand_(writeCommand) {}

    std::int32_t Send(HexSpace space, const HexRow& row) {
        return space == HexSpace::Eeprom ? SendEeprom(row) : SendProgram(row);
    }

private:
    // The row being sent is the one a failure names.
    void Log(HexSpace space, const HexRow& row) {
        rows_.Space = space;
        rows_.Address = row.Address;
        ++rows_.LoggedRows;
        std::fprintf(log_, " %04X ", static_cast<unsigned>(row.Address));
        for (std::uint8_t b : row.Bytes) {
            std::fprintf(log_, " %02X", static_cast<unsigned>(b));
        }
        std::fputc('\n', log_);
    }

    // Flash only clears bits, so the padding of a row may read back as another record's bytes;
    // only the positions in mask are the record's and compared. A position the reply does not
    // carry counts as a mismatch: it was not confirmed.
    std::int32_t ReadBack(const BootCommand& read, const std::uint8_t* expected,
                          std::uint16_t mask) {
        std::uint8_t got[MaxBootData];
        std::int32_t n = BootRead(port_, read, got);
        if (n < 0) {
            return n;
        }
        for (unsigned i = 0; i < read.Count; ++i) {
            bool supplied = (mask >> i & 1u) != 0;
            if (supplied && (static_cast<std::int32_t>(i) >= n || got[i] != expected[i])) {
                return BootResult::VerifyMismatch;
            }
        }
        return n;
    }

    std::int32_t WriteAndVerify(const BootCommand& write, const std::uint8_t* data,
                                std::uint8_t readCommand, std::uint16_t mask) {
        std::int32_t result = BootWrite(port_, write, data);
        if (result < 0) {
            return result;
        }
        BootCommand read = write;
        read.Command = readCommand;
        result = ReadBack(read, data, mask);
        if (result < 0) {
            result = ReadBack(read, data, mask);
        }
        return result;
    }

    std::int32_t SendProgram(const HexRow& row) {
        Log(HexSpace::Program, row);
        BootCommand write{writeCommand_, HexRowSize,   row.Address,
                          writeBlock_,   addressUnit_, retries_};
        return WriteAndVerify(write, row.Bytes, BootCode::ReadProgram, row.Supplied);
    }

    // EEPROM bytes are replaced, not ANDed: writing the padding would wipe bytes that another
    // record put into the same row, so only the record's own bytes go out. They are contiguous,
    // so they take one request.
    std::int32_t SendEeprom(const HexRow& row) {
        if (row.Supplied == 0) {
            return 0;
        }
        Log(HexSpace::Eeprom, row);
        const auto start = static_cast<unsigned>(std::countr_zero(row.Supplied));
        const auto length = static_cast<std::uint8_t>(std::popcount(row.Supplied));
        BootCommand write{BootCode::WriteEeprom, length, row.Address + start, 1, 1, retries_};
        const auto all = static_cast<std::uint16_t>((1u << length) - 1);
        return WriteAndVerify(write, row.Bytes + start, BootCode::ReadEeprom, all);
    }

    std::FILE* log_;
    ImageFailure& rows_;
    ComHandle port_;
    std::uint16_t retries_;
    std::uint8_t writeBlock_;
    std::uint8_t addressUnit_;
    std::uint8_t writeCommand_;
};

} // namespace

std::int32_t ProgramHexFile(const char* path, std::uint8_t writeBlock, std::uint8_t addressUnit,
                            std::uint8_t writeCommand) {
    ImageFailure rows;
    return ProgramHexFile(path, writeBlock, addressUnit, writeCommand, rows);
}

std::int32_t ProgramHexFile(const char* path, std::uint8_t writeBlock, std::uint8_t addressUnit,
                            std::uint8_t writeCommand, ImageFailure& rows) {
    rows = {};
    HexFileReader hex(path, HexRowSettingsFromProfile(addressUnit), HexPass::Programmer);
    if (hex.Lines() < 0) {
        return ProgramResult::FileError;
    }
    ProgressTotal = hex.Lines();
    if (!hex.Opened()) {
        return ProgramResult::FileError;
    }
    CFile log(CreateProgramLog());
    if (!log) {
        return ProgramResult::FileError;
    }

    RowSender sender(log.get(), writeBlock, addressUnit, writeCommand, rows);
    DecodedRecord record;
    while (hex.Next(record)) {
        if (record.Defect != HexDefect::None) {
            return record.Code;
        }
        const HexRowPlan& plan = record.Plan;
        for (unsigned r = 0; plan.Enabled && r < plan.RowCount; ++r) {
            if (const std::int32_t result = sender.Send(plan.Space, plan.Rows[r]); result < 0) {
                return result;
            }
        }
        ProgressCount = hex.Records();
    }
    return hex.Records();
}

std::int32_t ProgramForFlash(const char* path) {
    ImageFailure rows;
    return ProgramForFlash(path, rows);
}

std::int32_t ProgramForFlash(const char* path, ImageFailure& rows) {
    TargetProfile.HexPath = path;
    ProgressTotal = static_cast<std::int32_t>(TargetProfile.ProgramEnd.load());
    return ProgramHexFile(path, TargetProfile.WriteBlock, TargetProfile.AddressUnit,
                          BootCode::WriteProgram, rows);
}
