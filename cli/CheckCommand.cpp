#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "target/HexCheck.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <cstdio>
#include <string>

namespace {

// Consecutive rows of one space and verdict, each 16 bytes after the one before, print as one
// range: a full image would otherwise list two thousand lines.
struct RowRun {
    std::uint32_t First = 0;
    std::uint32_t Last = 0;
    std::uint32_t FirstLine = 0;
    std::uint32_t LastLine = 0;
    std::size_t Rows = 0;
};

void PrintRun(const RowRun& run) {
    const std::string span = run.Rows == 1
                                 ? Format("0x%04X", static_cast<unsigned>(run.First))
                                 : Format("0x%04X-0x%04X", static_cast<unsigned>(run.First),
                                          static_cast<unsigned>(run.Last + HexRowSize - 1));
    const std::string lines = run.FirstLine == run.LastLine
                                  ? Format("line %u", static_cast<unsigned>(run.FirstLine))
                                  : Format("lines %u-%u", static_cast<unsigned>(run.FirstLine),
                                           static_cast<unsigned>(run.LastLine));
    std::printf("  %-17s %5zu row%s  %s\n", span.c_str(), run.Rows, run.Rows == 1 ? " " : "s",
                lines.c_str());
}

void PrintSpace(const HexCheck& check, HexSpace space, bool sent) {
    std::size_t count = 0;
    for (const CheckedRow& row : check.Rows) {
        count += row.Space == space && row.Sent == sent ? 1 : 0;
    }
    if (count == 0) {
        return;
    }
    std::printf("%s: %zu row%s %s\n", HexSpaceName(space), count, count == 1 ? "" : "s",
                sent ? "written" : "skipped (this space is not written)");
    RowRun run;
    for (const CheckedRow& row : check.Rows) {
        if (row.Space != space || row.Sent != sent) {
            continue;
        }
        if (run.Rows > 0 && row.Address == run.Last + HexRowSize) {
            run.Last = row.Address;
            run.LastLine = row.Line;
            ++run.Rows;
            continue;
        }
        if (run.Rows > 0) {
            PrintRun(run);
        }
        run = {row.Address, row.Address, row.Line, row.Line, 1};
    }
    PrintRun(run);
}

} // namespace

int RunCheck(const CheckOptions& options) {
    LoadDefaults();
    const char* path = options.File.c_str();
    const HexCheck check = CheckHexFile(path, HexRowSettingsFromProfile(TargetProfile.AddressUnit));
    if (check.Fault == HexFault::Unreadable) {
        return Fail(ExitStatus::File, "cannot read " + options.File);
    }
    if (!options.Quiet) {
        std::printf("%s: %d line%s, %d record%s read\n", path, static_cast<int>(check.Lines),
                    check.Lines == 1 ? "" : "s", static_cast<int>(check.Records),
                    check.Records == 1 ? "" : "s");
        for (HexSpace space :
             {HexSpace::Program, HexSpace::Eeprom, HexSpace::Id, HexSpace::Config}) {
            PrintSpace(check, space, true);
            PrintSpace(check, space, false);
        }
        if (check.SkippedRecords > 0) {
            std::printf("no memory: %u data record%s skipped (upper address selects none)\n",
                        static_cast<unsigned>(check.SkippedRecords),
                        check.SkippedRecords == 1 ? "" : "s");
        }
    }
    if (check.Fault == HexFault::Refused) {
        return Fail(ExitStatus::File, Format("%s line %u: %s (the programmer would stop with %d)",
                                             path, static_cast<unsigned>(check.ErrorLine),
                                             check.Error.c_str(), static_cast<int>(check.Code)));
    }
    // The programmer would run, but the board could not end up holding the file.
    if (check.Fault == HexFault::Unwritable) {
        return Fail(ExitStatus::File,
                    Format("%s line %u: %s; flash would refuse it", path,
                           static_cast<unsigned>(check.ErrorLine), check.Error.c_str()));
    }
    // flash refuses it: erasing the board for nothing would only wipe it.
    if (check.Fault == HexFault::NoData) {
        return Fail(ExitStatus::File,
                    Format("%s: %s; flash would refuse it", path, check.Error.c_str()));
    }
    if (!options.Quiet) {
        std::printf("ok: the programmer would return %d\n", static_cast<int>(check.Records));
    }
    return ExitStatus::Success;
}
