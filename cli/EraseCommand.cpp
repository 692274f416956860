#include "cli/Address.h"
#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "line/BoardRecord.h"
#include "target/EraseRunMode.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

namespace {

struct EraseSpan {
    std::uint32_t From = 0;
    std::uint32_t To = 0;
};

// The span asked for; prints why and returns none when it is refused.
std::optional<EraseSpan> SpanOf(const EraseOptions& options) {
    const std::uint32_t end = TargetProfile.ProgramEnd;
    const std::optional<std::uint32_t> from =
        options.From.empty() ? std::optional<std::uint32_t>(TargetProfile.ProgramStart)
                             : ParseAddress(options.From);
    const std::optional<std::uint32_t> to =
        options.To.empty() ? std::optional<std::uint32_t>(end) : ParseAddress(options.To);
    // The bootloader itself lives below 0x200: no erase may reach it.
    if (!from || !to || *from > *to || *from < BootBlockEnd || *to > end) {
        Fail(ExitStatus::Usage,
             Format("--from and --to must be addresses with 0x%X <= from <= to <= 0x%X",
                    static_cast<unsigned>(BootBlockEnd), static_cast<unsigned>(end)));
        return std::nullopt;
    }
    // The chip erases whole blocks: a span that ends inside one would lose the bytes beside it.
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    if (*from % block != 0 || (*to + 1) % block != 0) {
        Fail(ExitStatus::Usage,
             Format("--from must be a multiple of 0x%X and --to one less than a multiple of 0x%X: "
                    "the chip erases whole %u-byte blocks",
                    static_cast<unsigned>(block), static_cast<unsigned>(block),
                    static_cast<unsigned>(block)));
        return std::nullopt;
    }
    return EraseSpan{*from, *to};
}

} // namespace

int CheckEraseRange(const EraseOptions& options) {
    return SpanOf(options) ? ExitStatus::Success : ExitStatus::Usage;
}

int BootModeRefused(std::int32_t code) {
    return Fail(ExitStatus::Erase,
                "setting boot mode before the erase failed, nothing was erased: " +
                    DescribeLinkCode(code));
}

int RunErase(const EraseOptions& options, BoardOutcome& outcome) {
    Session session(options.Session, &outcome);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    const std::optional<EraseSpan> span = SpanOf(options);
    if (!span) {
        return ExitStatus::Usage;
    }

    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }
    if (const std::int32_t result = EnterBootMode(); result < 0) {
        return BootModeRefused(result);
    }
    ProgressTotal = static_cast<std::int32_t>(span->To);
    ProgressCount = static_cast<std::int32_t>(span->From);
    session.Progress().Begin({"erase", "B", static_cast<std::int32_t>(span->From), 1});
    const std::int32_t result = EraseRange(span->From, span->To);
    session.Progress().End(result >= 0);
    if (result < 0) {
        return Fail(ExitStatus::Erase,
                    Format("erase failed at 0x%X: %s", static_cast<unsigned>(ProgressCount.load()),
                           DescribeLinkCode(result).c_str()));
    }
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    outcome.Result = Format("%s erased, 0x%X to 0x%X",
                            Counted((span->To - span->From) / block + 1, "block").c_str(),
                            static_cast<unsigned>(span->From), static_cast<unsigned>(span->To));
    if (session.ShowsSummary()) {
        std::printf("erased: %s\n", outcome.Result.c_str());
    }
    return ExitStatus::Success;
}
