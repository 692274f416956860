#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"
#include "link/BootCommands.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// At most this many differences are named; the rest are counted.
constexpr std::size_t DifferencesNamed = 10;

// A byte the file defines, in a space the profile writes: (space, byte address) to value.
using FileBytes = std::map<std::pair<HexSpace, std::uint32_t>, std::uint8_t>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The file's own bytes, record by record through the programmer's planning, as far as the
// programmer would read (the check has already refused anything it would stop on). A later
// record's byte replaces an earlier one at the same address, as the later row write would.
FileBytes ReadFileBytes(const std::string& path, const HexCheck& check) {
    FileBytes bytes;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) {
        return bytes;
    }
    const std::uint8_t unit = TargetProfile.AddressUnit;
    const HexRowSettings settings = HexRowSettingsFromProfile(unit);
    HexRecordReader reader(file.get());
    HexRecord record;
    std::uint16_t upper = 0;
    for (std::int32_t handled = 0; handled < check.Records; ++handled) {
        HexRowPlan plan;
        if (reader.Next(record) != HexStatus::Record ||
            PlanHexRecord(record, upper, settings, plan) < 0) {
            break;
        }
        if (!plan.Enabled) {
            continue;
        }
        for (unsigned r = 0; r < plan.RowCount; ++r) {
            const HexRow& row = plan.Rows[r];
            const std::uint32_t base =
                plan.Space == HexSpace::Eeprom ? row.Address : row.Address * unit;
            for (unsigned i = 0; i < HexRowSize; ++i) {
                if ((row.Supplied >> i & 1u) != 0) {
                    bytes[{plan.Space, base + i}] = row.Bytes[i];
                }
            }
        }
    }
    return bytes;
}

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

std::vector<Span> SpansOf(const FileBytes& bytes) {
    std::vector<Span> spans;
    for (const auto& [key, value] : bytes) {
        const auto [space, address] = key;
        if (!spans.empty() && spans.back().Space == space &&
            address - spans.back().Last <= HexRowSize) {
            spans.back().Last = address;
        } else {
            spans.push_back({space, address, address});
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
        return Fail(ExitStatus::Transfer, fault.Why);
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
    const FileBytes bytes = ReadFileBytes(source, check);
    const std::vector<Span> spans = SpansOf(bytes);

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
        for (auto it = bytes.lower_bound({span.Space, span.First});
             it != bytes.end() && it->first.first == span.Space && it->first.second <= span.Last;
             ++it) {
            const std::uint8_t read = board[it->first.second - span.First];
            if (read != it->second) {
                differences.push_back({span.Space, it->first.second, it->second, read});
            }
        }
    }
    session.Progress().End(true);
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }

    outcome.Rows = static_cast<int>(std::count_if(check.Rows.begin(), check.Rows.end(),
                                                  [](const CheckedRow& row) { return row.Sent; }));
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
                           static_cast<unsigned long>(bytes.size()), options.File.c_str(),
                           AddressText(differences[0].Space, differences[0].Address).c_str()));
    }
    outcome.Result = Format("%s in %s equal to the file", Counted(bytes.size(), "byte").c_str(),
                            Counted(static_cast<unsigned long>(outcome.Rows), "row").c_str());
    if (outcome.Serial) {
        outcome.Result += ", serial " + *outcome.Serial;
    }
    if (session.ShowsSummary()) {
        std::printf("verified %s: %s\n", options.File.c_str(), outcome.Result.c_str());
    }
    return ExitStatus::Success;
}
