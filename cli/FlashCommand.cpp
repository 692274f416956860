#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/FileAccess.h"
#include "cli/HexCheck.h"
#include "cli/Messages.h"
#include "link/BootCommands.h"
#include "target/EraseRunMode.h"
#include "target/HexProgrammer.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

// The desktop job's pause between erasing and writing, kept so a board behaves the same under
// both programs.
constexpr auto EraseToWritePause = std::chrono::milliseconds(1000);

// The programmer logs every row just before sending it and stops at the first row that fails,
// so the log's last line names that row.
bool LastLoggedRow(std::uint32_t& address) {
    std::ifstream log(ProgramLogName);
    std::string line;
    std::string last;
    while (std::getline(log, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    unsigned value = 0;
    if (last.empty() || std::sscanf(last.c_str(), " %X", &value) != 1) {
        return false;
    }
    address = value;
    return true;
}

// Program rows below the boot block's end are refused, so a row logged there is an EEPROM row.
std::string RowText() {
    std::uint32_t row = 0;
    if (!LastLoggedRow(row)) {
        return "a row";
    }
    return Format("%srow 0x%04X", row < BootBlockEnd ? "EEPROM " : "", static_cast<unsigned>(row));
}

int ProgramFailure(const std::string& file, std::int32_t code) {
    switch (code) {
    case BootResult::VerifyMismatch:
        return Fail(ExitStatus::Transfer, "verify mismatch at " + RowText());
    case ProgramResult::FileError: {
        // The link's "read call failed" shares the file error's code; a logged row tells them
        // apart, since the log line goes out before the row's first request.
        std::uint32_t row = 0;
        if (LastLoggedRow(row)) {
            return Fail(ExitStatus::Transfer,
                        "writing " + RowText() + " failed: " + DescribeLinkCode(code));
        }
        return Fail(ExitStatus::File,
                    "cannot read " + file + " or create " + ProgramLogName + " in this folder");
    }
    case ProgramResult::BelowBootBlock:
    case ProgramResult::EepromOverrun:
    case ProgramResult::BadRecord:
        return Fail(ExitStatus::File, Format("%s changed while it was written; the programmer "
                                             "stopped with %d",
                                             file.c_str(), static_cast<int>(code)));
    default:
        return Fail(ExitStatus::Transfer,
                    "writing " + RowText() + " failed: " + DescribeLinkCode(code));
    }
}

std::uint32_t EraseBlocks() {
    const std::uint32_t first = TargetProfile.ProgramStart;
    const std::uint32_t last = TargetProfile.ProgramEnd;
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    return last < first ? 0 : (last - first) / block + 1;
}

} // namespace

int RunFlash(const FlashOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    Session session(options.Session);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    const char* path = options.File.c_str();

    // A file the programmer would stop on is refused before the board's application is erased.
    const HexCheck check = CheckHexFile(path, HexRowSettingsFromProfile(TargetProfile.AddressUnit));
    if (check.Code == ProgramResult::FileError) {
        return Fail(ExitStatus::File, "cannot read " + options.File);
    }
    if (check.Code < 0) {
        return Fail(ExitStatus::File,
                    Format("%s line %u: %s; nothing was written (the programmer would stop with "
                           "%d)",
                           path, static_cast<unsigned>(check.ErrorLine), check.Error.c_str(),
                           static_cast<int>(check.Code)));
    }
    if (check.RecordsLeftUnread) {
        return Fail(ExitStatus::File,
                    Format("%s: records beyond line %d would never be written (the programmer "
                           "reads one record per line); nothing was written",
                           path, static_cast<int>(check.Lines)));
    }
    // The programmer creates its log only after the erase; a folder it cannot write to would
    // leave the board erased and unprogrammed. A link in the log's place is refused as well.
    if (!CanWriteLogFile(ProgramLogName)) {
        return Fail(ExitStatus::File, std::string("cannot write ") + ProgramLogName +
                                          " here; run from a folder you can write to");
    }

    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }

    ProgressDisplay& progress = session.Progress();
    ProgressCount = static_cast<std::int32_t>(TargetProfile.ProgramStart.load());
    progress.Begin({"erase", "B", static_cast<std::int32_t>(TargetProfile.ProgramStart.load()), 1});
    std::int32_t result = EraseForFlash(path);
    progress.End(result >= 0);
    if (result < 0) {
        return Fail(ExitStatus::Erase,
                    Format("erase failed at 0x%X: %s", static_cast<unsigned>(ProgressCount.load()),
                           DescribeLinkCode(result).c_str()));
    }

    std::this_thread::sleep_for(EraseToWritePause);

    ProgressCount = 0;
    progress.Begin({"write", "rec", 0, 0});
    result = ProgramForFlash(path);
    progress.End(result >= 0);
    if (result < 0) {
        return ProgramFailure(options.File, result);
    }

    if (!options.NoRunMode) {
        result = SetRunMode(1);
        if (result < 0) {
            return Fail(ExitStatus::Finish, "setting run mode failed: " + DescribeLinkCode(result));
        }
    }
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }

    if (!session.Quiet()) {
        const auto rows = std::count_if(check.Rows.begin(), check.Rows.end(),
                                        [](const CheckedRow& row) { return row.Sent; });
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("flashed %s: %u blocks erased, %ld rows written and verified, %s, %.1f s\n",
                    path, static_cast<unsigned>(EraseBlocks()), static_cast<long>(rows),
                    options.NoRunMode ? "left in boot mode" : "run mode set", seconds);
    }
    return ExitStatus::Success;
}
