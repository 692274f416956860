#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/LineOptions.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"
#include "link/BootCommands.h"
#include "target/FlashImage.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// At most this many differences are named; the rest are counted.
constexpr std::size_t DifferencesNamed = 10;

std::uint8_t ReadCommandFor(HexSpace space) {
    switch (space) {
    case HexSpace::Eeprom:
        return BootCode::ReadEeprom;
    case HexSpace::Id:
    case HexSpace::Config:
        return BootCode::ReadConfig;
    default:
        return BootCode::ReadProgram;
    }
}

std::string AddressText(HexSpace space, std::uint32_t address) {
    return Format("%s0x%04X", space == HexSpace::Eeprom ? "EEPROM " : "",
                  static_cast<unsigned>(address));
}

// A run of addresses read together: the file's bytes with gaps shorter than a row closed up,
// so scattered records still cost few requests.
struct Span {
    HexSpace Space;
    std::uint32_t First;
    std::uint32_t Last;
};

std::vector<Span> SpansOf(const FlashImage& image) {
    std::vector<Span> spans;
    for (const auto* memory : {&image.Flash, &image.Eeprom}) {
        for (const auto& [address, byte] : *memory) {
            if (!spans.empty() && spans.back().Space == byte.Space &&
                address - spans.back().Last <= HexRowSize) {
                spans.back().Last = address;
            } else {
                spans.push_back({byte.Space, address, address});
            }
        }
    }
    return spans;
}

struct Difference {
    HexSpace Space;
    std::uint32_t Address;
    std::uint8_t File;
    std::uint8_t Board;
};

// The number the board holds at the place, if one was asked for: printed, and put in the record.
int PrintBoardSerial(const VerifyOptions& options, BoardOutcome& outcome) {
    if (!options.Serial.Place) {
        return ExitStatus::Success;
    }
    std::vector<std::uint8_t> bytes;
    if (SerialFault fault = ReadBoardSerial(options.Serial, outcome.Serial, bytes)) {
        return Fail(ExitStatus::Transfer, SerialFaultText(fault));
    }
    const std::string where = SerialPlaceText(*options.Serial.Place);
    if (!options.Session.Quiet && !options.Session.Json) {
        std::string hex;
        for (std::uint8_t b : bytes) {
            hex += Format(" %02X", static_cast<unsigned>(b));
        }
        std::printf("serial number at %s: %s (bytes%s)\n", where.c_str(),
                    outcome.Serial   ? outcome.Serial->c_str()
                    : IsBlank(bytes) ? "none, the place is blank"
                                     : "not of the format",
                    hex.c_str());
    }
    return ExitStatus::Success;
}

} // namespace

int RunVerify(const VerifyOptions& options, const std::string& source, BoardOutcome& outcome) {
    Session session(options.Session, &outcome);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    HexCheck check;
    if (int status = RefuseUnfitFile(source, options.File, check); status != ExitStatus::Success) {
        return status;
    }
    // The file's own bytes in the spaces the profile writes, as the check read them.
    const FlashImage& image = check.Image;
    const std::vector<Span> spans = SpansOf(image);

    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }
    if (int status = PrintBoardSerial(options, outcome); status != ExitStatus::Success) {
        return status;
    }
    std::int64_t total = 0;
    for (const Span& span : spans) {
        total += span.Last - span.First + 1;
    }
    ProgressTotal = static_cast<std::int32_t>(total);
    ProgressCount = 0;
    session.Progress().Begin({"verify", "B", 0, 0});
    // One range read per request-sized chunk: the range read reports only its last chunk's
    // count, and a chunk the board answered short must not pass as equal.
    const std::uint32_t chunk = std::max<std::uint32_t>(TargetProfile.MaxReadCount, 1);
    std::vector<Difference> differences;
    std::int32_t done = 0;
    for (const Span& span : spans) {
        std::vector<std::uint8_t> board(span.Last - span.First + 1);
        for (std::uint32_t offset = 0; offset < board.size(); offset += chunk) {
            const std::uint32_t first = span.First + offset;
            const auto count = std::min(chunk, static_cast<std::uint32_t>(board.size()) - offset);
            const std::int32_t result = ReadMemoryRange(
                first, first + count - 1, 1, ReadCommandFor(span.Space), board.data() + offset);
            if (result < 0 || static_cast<std::uint32_t>(result) < count) {
                session.Progress().End(false);
                return Fail(ExitStatus::Transfer,
                            result < 0
                                ? Format("reading %s failed: %s",
                                         AddressText(span.Space, first).c_str(),
                                         DescribeLinkCode(result).c_str())
                                : Format("reading %s: the board sent %d of %u bytes",
                                         AddressText(span.Space, first).c_str(),
                                         static_cast<int>(result), static_cast<unsigned>(count)));
            }
            done += static_cast<std::int32_t>(count);
            ProgressCount = done;
        }
        const auto& memory = span.Space == HexSpace::Eeprom ? image.Eeprom : image.Flash;
        for (auto it = memory.lower_bound(span.First); it != memory.end() && it->first <= span.Last;
             ++it) {
            const std::uint8_t read = board[it->first - span.First];
            if (read != it->second.Value) {
                differences.push_back({span.Space, it->first, it->second.Value, read});
            }
        }
    }
    session.Progress().End(true);
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }

    outcome.Rows = static_cast<int>(std::count_if(check.Rows.begin(), check.Rows.end(),
                                                  [](const CheckedRow& row) { return row.Sent; }));
    const std::size_t bytes = image.Flash.size() + image.Eeprom.size();
    if (!differences.empty()) {
        for (std::size_t i = 0; i < differences.size() && i < DifferencesNamed; ++i) {
            const Difference& d = differences[i];
            std::fprintf(stderr, "  %s: file 0x%02X, board 0x%02X\n",
                         AddressText(d.Space, d.Address).c_str(), d.File, d.Board);
        }
        if (differences.size() > DifferencesNamed) {
            std::fprintf(stderr, "  and %zu more\n", differences.size() - DifferencesNamed);
        }
        return Fail(ExitStatus::Transfer,
                    Format("%lu of %lu bytes differ from %s, the first at %s",
                           static_cast<unsigned long>(differences.size()),
                           static_cast<unsigned long>(bytes), options.File.c_str(),
                           AddressText(differences[0].Space, differences[0].Address).c_str()));
    }
    outcome.Result = Format("%s in %s equal to the file", Counted(bytes, "byte").c_str(),
                            Counted(static_cast<unsigned long>(outcome.Rows), "row").c_str());
    if (outcome.Serial) {
        outcome.Result += ", serial " + *outcome.Serial;
    }
    if (session.ShowsSummary()) {
        std::printf("verified %s: %s\n", options.File.c_str(), outcome.Result.c_str());
    }
    return ExitStatus::Success;
}
