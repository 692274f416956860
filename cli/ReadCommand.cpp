#include "cli/Address.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "link/BootCommands.h"
#include "target/HexWriter.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct MemorySpace {
    const char* Name;
    const char* Title;
    std::uint8_t ReadCommand;
    std::uint32_t Lowest;
    // Program memory is read from the application's start unless asked otherwise, so that what
    // comes back can be flashed again: the programmer refuses rows in the boot block.
    std::uint32_t First;
    std::uint32_t Last;
    // Added to a chip address in the HEX file, so that its upper address selects this space
    // when the file is programmed again (0x00F0 for the data EEPROM).
    std::uint32_t FileBase;
};

std::optional<MemorySpace> FindSpace(const std::string& name) {
    const TargetProfileData& p = TargetProfile;
    const MemorySpace spaces[] = {
        {"program", "program memory", BootCode::ReadProgram, 0, p.ProgramStart, p.ProgramEnd, 0},
        {"eeprom", "data EEPROM", BootCode::ReadEeprom, p.EepromStart, p.EepromStart, p.EepromEnd,
         0xF00000},
        {"id", "ID locations", BootCode::ReadConfig, p.IdStart, p.IdStart, p.IdEnd, 0},
        {"config", "configuration", BootCode::ReadConfig, p.ConfigStart, p.ConfigStart, p.ConfigEnd,
         0},
    };
    for (const MemorySpace& space : spaces) {
        if (name == space.Name) {
            return space;
        }
    }
    return std::nullopt;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

} // namespace

int RunRead(const ReadOptions& options) {
    Session session(options.Session);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    const std::optional<MemorySpace> space = FindSpace(options.Space);
    if (!space) {
        return Fail(ExitStatus::Usage, "unknown space " + options.Space);
    }
    const std::optional<std::uint32_t> from =
        options.From.empty() ? space->First : ParseAddress(options.From);
    const std::optional<std::uint32_t> to =
        options.To.empty() ? space->Last : ParseAddress(options.To);
    if (!from || !to || *from > *to || *from < space->Lowest || *to > space->Last) {
        return Fail(ExitStatus::Usage,
                    Format("--from and --to must be addresses with 0x%X <= from <= to <= 0x%X "
                           "for %s",
                           static_cast<unsigned>(space->Lowest), static_cast<unsigned>(space->Last),
                           space->Title));
    }

    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }
    const std::uint32_t size = *to - *from + 1;
    std::vector<std::uint8_t> data(size, 0);
    // One range read per request-sized chunk: the range read reports only its last chunk's
    // count, and a chunk the board answered short must not pass as zero bytes.
    const std::uint32_t chunk = std::max<std::uint32_t>(TargetProfile.MaxReadCount, 1);
    ProgressTotal = static_cast<std::int32_t>(size);
    ProgressCount = 0;
    session.Progress().Begin({"read", "B", 0, 0});
    for (std::uint32_t done = 0; done < size; done += chunk) {
        const std::uint32_t first = *from + done;
        const std::uint32_t count = std::min(chunk, size - done);
        const std::int32_t result =
            ReadMemoryRange(first, first + count - 1, 1, space->ReadCommand, data.data() + done);
        if (result < 0 || static_cast<std::uint32_t>(result) < count) {
            session.Progress().End(false);
            return Fail(ExitStatus::Transfer,
                        result < 0
                            ? Format("reading %s at 0x%X failed: %s", space->Title,
                                     static_cast<unsigned>(first), DescribeLinkCode(result).c_str())
                            : Format("reading %s at 0x%X: the board sent %d of %u bytes",
                                     space->Title, static_cast<unsigned>(first),
                                     static_cast<int>(result), static_cast<unsigned>(count)));
        }
        ProgressCount = static_cast<std::int32_t>(done + count);
    }
    session.Progress().End(true);
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }

    HexWriter writer;
    writer.Add(space->FileBase + *from, data.data(), data.size());
    if (!WriteText(options.Output, writer.Finish())) {
        return Fail(ExitStatus::File, "cannot write " + options.Output);
    }
    if (!session.Quiet()) {
        std::printf("read %u bytes of %s (0x%X to 0x%X) into %s\n", static_cast<unsigned>(size),
                    space->Title, static_cast<unsigned>(*from), static_cast<unsigned>(*to),
                    options.Output.c_str());
    }
    return ExitStatus::Success;
}
