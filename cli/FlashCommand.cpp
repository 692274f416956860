#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/Interruption.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "line/BoardRecord.h"
#include "line/BoardsRun.h"
#include "line/RecordFile.h"
#include "line/SharedFile.h"
#include "line/UtcTime.h"
#include "link/BootCommands.h"
#include "target/EraseRunMode.h"
#include "target/FastFlash.h"
#include "target/FlashImage.h"
#include "target/HexProgrammer.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

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

// One line per row a write carried.
int LoggedRows() {
    std::ifstream log(ProgramLogName);
    int lines = 0;
    for (std::string line; std::getline(log, line);) {
        lines += line.empty() ? 0 : 1;
    }
    return lines;
}

// Every row logged before the one that failed was written and read back.
int VerifiedRowsBeforeFailure() {
    return std::max(LoggedRows() - 1, 0);
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

// For --fast the whole file becomes one image before the board is touched.
int BuildImage(const char* source, const char* path, FlashImage& image) {
    const std::int32_t code =
        BuildFlashImage(source, HexRowSettingsFromProfile(TargetProfile.AddressUnit), image);
    if (code < 0) {
        // Only a fault the check let through ends here: the run's copy of the file cannot change.
        return Fail(ExitStatus::File,
                    Format("%s line %u: refused with %d; nothing was written", path,
                           static_cast<unsigned>(image.ErrorLine), static_cast<int>(code)));
    }
    return ExitStatus::Success;
}

int FastProgramFailure(const std::string& file, std::int32_t code, const ImageFailure& failure) {
    // The file error shares its code with the link's "read call failed"; only a request that
    // went out sets the failure's space.
    if (failure.Space == HexSpace::None) {
        return Fail(ExitStatus::File,
                    "cannot create " + std::string(ProgramLogName) + " in this folder for " + file);
    }
    const std::string where = Format("%s0x%04X", failure.Space == HexSpace::Eeprom ? "EEPROM " : "",
                                     static_cast<unsigned>(failure.Address));
    if (code == BootResult::VerifyMismatch) {
        return Fail(ExitStatus::Transfer, "verify mismatch at " + where);
    }
    return Fail(ExitStatus::Transfer,
                "writing or reading back at " + where + " failed: " + DescribeLinkCode(code));
}

int SerialFailure(const SerialFault& fault) {
    switch (fault.What) {
    case SerialFault::Usage:
        return Fail(ExitStatus::Usage, fault.Why);
    case SerialFault::Transfer:
        return Fail(ExitStatus::Transfer, fault.Why);
    default:
        return Fail(ExitStatus::File, fault.Why);
    }
}

// A board's parent names this number in the board's record should this process be killed.
void TellParentOfSerial(const FlashOptions& options, const BoardSerial& serial) {
    if (options.Session.ForParent) {
        std::fprintf(stderr, "%.*s%s\n", static_cast<int>(SerialLine.size()), SerialLine.data(),
                     serial.Value()->c_str());
    }
}

// Before the erase: the board's number, kept from the board or taken from the book.
int TakeSerial(BoardSerial* serial, const FlashOptions& options) {
    if (serial == nullptr) {
        return ExitStatus::Success;
    }
    const std::string port =
        ShortPortName(options.Session.Choice.Port.empty() ? TargetProfile.PortName.load()
                                                          : options.Session.Choice.Port);
    if (SerialFault fault = serial->Take(port)) {
        return SerialFailure(fault);
    }
    if (serial->Kept()) {
        TellParentOfSerial(options, *serial);
    }
    return ExitStatus::Success;
}

// After the image, before run mode: the number's bytes, written and read back.
int WriteSerial(BoardSerial* serial, const FlashOptions& options) {
    if (serial == nullptr) {
        return ExitStatus::Success;
    }
    TellParentOfSerial(options, *serial);
    ImageFailure failure;
    const std::int32_t result = serial->Write(failure);
    if (result >= 0) {
        return ExitStatus::Success;
    }
    const std::string where = SerialPlaceText(*options.Serial.Place);
    if (result == BootResult::VerifyMismatch) {
        // A write only clears bits, and flash erases the application area alone.
        const bool id = options.Serial.Place->Space == HexSpace::Id;
        return Fail(ExitStatus::Transfer,
                    Format("serial number %s at %s: verify mismatch at 0x%04X%s",
                           serial->Value()->c_str(), where.c_str(),
                           static_cast<unsigned>(failure.Address),
                           id ? " (the ID locations are not erased by flash and already hold "
                                "other bits; --serial-keep keeps a board's number)"
                              : ""));
    }
    return Fail(ExitStatus::Transfer,
                Format("writing serial number %s at %s failed: %s", serial->Value()->c_str(),
                       where.c_str(), DescribeLinkCode(result).c_str()));
}

std::uint32_t EraseBlocks() {
    const std::uint32_t first = TargetProfile.ProgramStart;
    const std::uint32_t last = TargetProfile.ProgramEnd;
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    return last < first ? 0 : (last - first) / block + 1;
}

int FlashBoard(const FlashOptions& options, const std::string& source, BoardOutcome& outcome,
               BoardSerial* serial) {
    const auto started = std::chrono::steady_clock::now();
    Session session(options.Session, &outcome);
    if (int status = session.CheckUsage(); status != ExitStatus::Success) {
        return status;
    }
    const char* path = options.File.c_str();

    // A file the programmer would stop on, or one that would leave the board blank, is refused
    // before the board's application is erased; so is a folder where the log cannot be kept.
    HexCheck check;
    if (int status = RefuseUnfitFile(source, options.File, check); status != ExitStatus::Success) {
        return status;
    }
    // The number's place is judged again on the bytes this run flashes, which the file may no
    // longer hold.
    if (serial != nullptr) {
        if (SerialFault fault = SerialPlaceCovered(options.Serial, source, options.File)) {
            return SerialFailure(fault);
        }
    }
    if (!ProgramLogUsable()) {
        return Fail(ExitStatus::File, std::string("cannot write ") + ProgramLogName +
                                          " here; run from a folder you can write to");
    }

    FlashImage image;
    if (options.Fast) {
        if (int status = BuildImage(source.c_str(), path, image); status != ExitStatus::Success) {
            return status;
        }
    }

    if (int status = session.Connect(); status != ExitStatus::Success) {
        return status;
    }
    if (int status = TakeSerial(serial, options); status != ExitStatus::Success) {
        return status;
    }

    if (int status = EnterBootModeForErase(); status != ExitStatus::Success) {
        return status;
    }

    ProgressDisplay& progress = session.Progress();
    ProgressCount = static_cast<std::int32_t>(TargetProfile.ProgramStart.load());
    progress.Begin({"erase", "B", static_cast<std::int32_t>(TargetProfile.ProgramStart.load()), 1});
    std::int32_t result =
        options.Fast ? EraseForFastFlash(source.c_str()) : EraseForFlash(source.c_str());
    progress.End(result >= 0);
    if (result < 0) {
        return Fail(ExitStatus::Erase,
                    Format("erase failed at 0x%X: %s", static_cast<unsigned>(ProgressCount.load()),
                           DescribeLinkCode(result).c_str()));
    }

    PauseUnlessStopped(EraseToWritePause);

    ProgressCount = 0;
    progress.Begin({"write", "rec", 0, 0});
    ImageFailure failure;
    result = options.Fast ? ProgramImageFast(image, failure) : ProgramForFlash(source.c_str());
    progress.End(result >= 0);
    if (result < 0) {
        outcome.Rows = VerifiedRowsBeforeFailure();
        return options.Fast ? FastProgramFailure(options.File, result, failure)
                            : ProgramFailure(options.File, result);
    }
    if (int status = WriteSerial(serial, options); status != ExitStatus::Success) {
        return status;
    }

    if (!options.NoRunMode) {
        NoteStage("run-mode");
        result = SetRunMode(1);
        if (result < 0) {
            return Fail(ExitStatus::Finish, "setting run mode failed: " + DescribeLinkCode(result));
        }
    }
    if (int status = session.Disconnect(); status != ExitStatus::Success) {
        return status;
    }

    // --fast writes a row shared by several records once, and blank blocks not at all.
    const auto rows = options.Fast ? LoggedRows()
                                   : std::count_if(check.Rows.begin(), check.Rows.end(),
                                                   [](const CheckedRow& row) { return row.Sent; });
    outcome.Rows = static_cast<int>(rows);
    outcome.Result =
        Format("%s erased, %s written and verified, %s", Counted(EraseBlocks(), "block").c_str(),
               Counted(static_cast<unsigned long>(rows), "row").c_str(),
               options.NoRunMode ? "left in boot mode" : "run mode set");
    if (serial != nullptr) {
        outcome.Result +=
            Format(", serial %s%s", serial->Value()->c_str(), serial->Kept() ? " kept" : "");
    }
    if (session.ShowsSummary()) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("flashed %s: %s, %.1f s\n", path, outcome.Result.c_str(), seconds);
    }
    return ExitStatus::Success;
}

} // namespace

int RunFlash(const FlashOptions& options, const std::string& source, BoardOutcome& outcome,
             const BoardRecorder& record) {
    if (!options.Serial.Place) {
        return record(FlashBoard(options, source, outcome, nullptr), outcome);
    }
    FileSerialStore store(options.Serial.Source, {HostName(), OwnProcessId(), ""});
    BoardSerial serial(options.Serial, store);
    const int status = FlashBoard(options, source, outcome, &serial);
    // The journal and the record name the same moment.
    outcome.Time = UtcTimeNow();
    if (status == ExitStatus::Success) {
        outcome.Serial = serial.Value();
    } else if (serial.MayBeOnBoard()) {
        outcome.SerialUnverified = serial.Value();
    }
    // The record first: a number journaled as used always has its record line.
    const int recorded = record(status, outcome);
    std::string why;
    if (!serial.End(recorded == ExitStatus::Success, *outcome.Time, nullptr, why)) {
        Fail(ExitStatus::File, Format("serial number %s: %s; it is never given to another board",
                                      serial.Value().value_or("?").c_str(), why.c_str()));
        return std::max(recorded, ExitStatus::File);
    }
    return recorded;
}
