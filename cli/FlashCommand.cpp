#include "cli/BoardRecord.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/Messages.h"
#include "link/BootCommands.h"
#include "target/EraseRunMode.h"
#include "target/HexProgrammer.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

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

// Every row logged before the one that failed was written and read back.
int VerifiedRowsBeforeFailure() {
    std::ifstream log(ProgramLogName);
    int lines = 0;
    for (std::string line; std::getline(log, line);) {
        lines += line.empty() ? 0 : 1;
    }
    return std::max(lines - 1, 0);
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

// The programmer creates its log only after the erase; a folder it cannot write to would leave
// the board erased and unprogrammed. It refuses a link in the log's place as well.
bool CanWriteLog() {
    struct stat entry {};
    if (lstat(ProgramLogName, &entry) == 0) {
        return S_ISREG(entry.st_mode) && access(ProgramLogName, W_OK) == 0;
    }
    return errno == ENOENT && access(".", W_OK | X_OK) == 0;
}

std::uint32_t EraseBlocks() {
    const std::uint32_t first = TargetProfile.ProgramStart;
    const std::uint32_t last = TargetProfile.ProgramEnd;
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    return last < first ? 0 : (last - first) / block + 1;
}

} // namespace

int RunFlash(const FlashOptions& options, BoardOutcome& outcome) {
    const auto started = std::chrono::steady_clock::now();
    Session session(options.Session, &outcome);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    const char* path = options.File.c_str();

    // A file the programmer would stop on is refused before the board's application is erased.
    HexCheck check;
    if (int status = RefuseUnfitFile(options.File, check); status != ExitStatus::Success) {
        return status;
    }
    if (!CanWriteLog()) {
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
        outcome.Rows = VerifiedRowsBeforeFailure();
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

    const auto rows = std::count_if(check.Rows.begin(), check.Rows.end(),
                                    [](const CheckedRow& row) { return row.Sent; });
    outcome.Rows = static_cast<int>(rows);
    outcome.Result = Format("%u blocks erased, %ld rows written and verified, %s",
                            static_cast<unsigned>(EraseBlocks()), static_cast<long>(rows),
                            options.NoRunMode ? "left in boot mode" : "run mode set");
    if (session.ShowsSummary()) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("flashed %s: %s, %.1f s\n", path, outcome.Result.c_str(), seconds);
    }
    return ExitStatus::Success;
}
