#include "cli/Commands.h"
#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/Interruption.h"
#include "cli/LineOptions.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "line/BoardRecord.h"
#include "line/ChildReport.h"
#include "line/LineSerialStore.h"
#include "line/RecordFile.h"
#include "line/SharedFile.h"
#include "line/UtcTime.h"
#include "link/BootCommands.h"
#include "target/FlashSequence.h"
#include "target/HexProgrammer.h"
#include "target/HexRows.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace {

// The row the programmer was sending; an EEPROM row's address is an offset in the EEPROM.
std::string RowText(const ImageFailure& rows) {
    if (rows.Space == HexSpace::None) {
        return "a row";
    }
    return Format("%srow 0x%04X", rows.Space == HexSpace::Eeprom ? "EEPROM " : "",
                  static_cast<unsigned>(rows.Address));
}

int ProgramFailure(const std::string& file, std::int32_t code, const ImageFailure& rows) {
    switch (code) {
    case BootResult::VerifyMismatch:
        return Fail(ExitStatus::Transfer, "verify mismatch at " + RowText(rows));
    case ProgramResult::FileError:
        // The link's "read call failed" shares the file error's code; a row sent tells them
        // apart, since the log line goes out before the row's first request.
        if (rows.Space != HexSpace::None) {
            return Fail(ExitStatus::Transfer,
                        "writing " + RowText(rows) + " failed: " + DescribeLinkCode(code));
        }
        return Fail(ExitStatus::File,
                    "cannot read " + file + " or create " + ProgramLogName + " in this folder");
    case ProgramResult::BelowBootBlock:
    case ProgramResult::EepromOverrun:
    case ProgramResult::BadRecord:
        return Fail(ExitStatus::File, Format("%s changed while it was written; the programmer "
                                             "stopped with %d",
                                             file.c_str(), static_cast<int>(code)));
    default:
        return Fail(ExitStatus::Transfer,
                    "writing " + RowText(rows) + " failed: " + DescribeLinkCode(code));
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
        return Fail(ExitStatus::Usage, SerialFaultText(fault));
    case SerialFault::Transfer:
        return Fail(ExitStatus::Transfer, SerialFaultText(fault));
    default:
        return Fail(ExitStatus::File, SerialFaultText(fault));
    }
}

// A board's parent names this number in the board's record should this process be killed.
void TellParentOfSerial(const FlashOptions& options, const BoardSerial& serial) {
    if (options.Session.ForParent) {
        std::fprintf(stderr, "%s\n", SerialNumberLine(*serial.Value()).c_str());
    }
}

// After the image, before run mode: why the number's bytes did not reach the board.
int SerialWriteFailure(const BoardSerial& serial, const FlashOptions& options, std::int32_t result,
                       const ImageFailure& failure) {
    if (result == SerialWriteUntold) {
        return Fail(ExitStatus::File, Format("serial number %s: %s", serial.Value()->c_str(),
                                             serial.Untold().c_str()));
    }
    const std::string where = SerialPlaceText(*options.Serial.Place);
    if (result == BootResult::VerifyMismatch) {
        // A write only clears bits, and flash erases the application area alone.
        const bool id = options.Serial.Place->Space == HexSpace::Id;
        return Fail(ExitStatus::Transfer,
                    Format("serial number %s at %s: verify mismatch at 0x%04X%s",
                           serial.Value()->c_str(), where.c_str(),
                           static_cast<unsigned>(failure.Address),
                           id ? " (the ID locations are not erased by flash and already hold "
                                "other bits; --serial-keep keeps a board's number)"
                              : ""));
    }
    return Fail(ExitStatus::Transfer,
                Format("writing serial number %s at %s failed: %s", serial.Value()->c_str(),
                       where.c_str(), DescribeLinkCode(result).c_str()));
}

// The board's record to the line server, unless its number's end took it there already.
int SendRecord(LineSerialStore* line, const BoardOutcome& outcome, int status) {
    std::string why;
    if (line == nullptr || outcome.Line.is_null() || line->Record(outcome.Line, why)) {
        return status;
    }
    Fail(ExitStatus::File, "the board's record is not on its way to the line server: " + why);
    return std::max(status, ExitStatus::File);
}

std::uint32_t EraseBlocks() {
    const std::uint32_t first = TargetProfile.ProgramStart;
    const std::uint32_t last = TargetProfile.ProgramEnd;
    const std::uint32_t block = std::max<std::uint32_t>(TargetProfile.EraseBlock, 1);
    return last < first ? 0 : (last - first) / block + 1;
}

// The flash job on the terminal: each stage's progress, the serial number, and the words and
// exit status of the step that failed.
class TerminalFlash : public FlashFace {
public:
    TerminalFlash(const FlashOptions& options, const std::string& source, Session& session,
                  BoardOutcome& outcome, BoardSerial* serial)
        : options_(options), source_(source), session_(session), outcome_(outcome),
          serial_(serial) {}

    void Starting(FlashStep step) override {
        ProgressDisplay& progress = session_.Progress();
        const auto start = static_cast<std::int32_t>(TargetProfile.ProgramStart.load());
        switch (step) {
        case FlashStep::Connect:
            session_.BeginConnect();
            break;
        case FlashStep::Erase:
            ProgressCount = start;
            progress.Begin({"erase", "B", start, 1});
            break;
        case FlashStep::Write:
            ProgressCount = 0;
            progress.Begin({"write", "rec", 0, 0});
            break;
        case FlashStep::RunMode:
            NoteStage("run-mode");
            break;
        default:
            break;
        }
    }

    void Ended(const FlashReport& report) override {
        const bool ok = !report.Failed();
        switch (report.Step) {
        case FlashStep::Connect:
            status_ = session_.Connected(report.Code);
            break;
        case FlashStep::BootMode:
            status_ = ok ? ExitStatus::Success : BootModeRefused(report.Code);
            break;
        case FlashStep::Erase:
            session_.Progress().End(ok);
            if (!ok) {
                status_ =
                    Fail(ExitStatus::Erase, Format("erase failed at 0x%X: %s",
                                                   static_cast<unsigned>(ProgressCount.load()),
                                                   DescribeLinkCode(report.Code).c_str()));
            }
            break;
        case FlashStep::Write:
            session_.Progress().End(ok);
            loggedRows_ = report.Rows.LoggedRows;
            if (!ok) {
                // Every row logged before the one that failed was written and read back.
                outcome_.Rows = static_cast<int>(std::max(report.Rows.LoggedRows, 1u) - 1);
                status_ = options_.Fast
                              ? FastProgramFailure(options_.File, report.Code, report.Rows)
                              : ProgramFailure(options_.File, report.Code, report.Rows);
            }
            break;
        case FlashStep::WriteSerial:
            loggedRows_ += report.Rows.LoggedRows;
            if (!ok) {
                status_ = SerialWriteFailure(*serial_, options_, report.Code, report.Rows);
            }
            break;
        case FlashStep::RunMode:
            if (!ok) {
                status_ = Fail(ExitStatus::Finish,
                               "setting run mode failed: " + DescribeLinkCode(report.Code));
            }
            break;
        case FlashStep::Disconnect:
            status_ = Session::Disconnected(report.Code);
            break;
        default:
            break; // the file is known and the serial number's steps say why themselves
        }
    }

    const char* FileToWrite() override { return source_.c_str(); }

    // Before the erase: the board's number, kept from the board or taken from the book.
    std::int32_t TakeSerial() override {
        if (serial_ == nullptr) {
            return 0;
        }
        const std::string port =
            ShortPortName(options_.Session.Choice.Port.empty() ? TargetProfile.PortName.load()
                                                               : options_.Session.Choice.Port);
        if (SerialFault fault = serial_->Take(port)) {
            status_ = SerialFailure(fault);
            return -1;
        }
        if (serial_->Kept()) {
            TellParentOfSerial(options_, *serial_);
        }
        return 0;
    }

    // After the image, before run mode: the number's bytes, written and read back.
    std::int32_t WriteSerial(ImageFailure& failure) override {
        if (serial_ == nullptr) {
            return 0;
        }
        TellParentOfSerial(options_, *serial_);
        return serial_->Write(failure);
    }

    void Pause(std::chrono::milliseconds pause) override { PauseUnlessStopped(pause); }

    int Status() const { return status_; }
    // The rows whose lines the job logged.
    std::uint32_t LoggedRows() const { return loggedRows_; }

private:
    const FlashOptions& options_;
    const std::string& source_;
    Session& session_;
    BoardOutcome& outcome_;
    BoardSerial* serial_;
    int status_ = ExitStatus::Success;
    std::uint32_t loggedRows_ = 0;
};

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

    TerminalFlash job(options, source, session, outcome, serial);
    RunFlashSequence({session.NamedPort(), options.Fast ? &image : nullptr, !options.NoRunMode},
                     job);
    if (job.Status() != ExitStatus::Success) {
        return job.Status();
    }

    // --fast writes a row shared by several records once, and blank blocks not at all.
    const auto rows = options.Fast ? job.LoggedRows()
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
    std::unique_ptr<LineSerialStore> line;
    if (options.Line.Used()) {
        std::string why;
        line = std::make_unique<LineSerialStore>(options.Line,
                                                 *ParseLineAddress(options.Line.Url, why),
                                                 [] { return StopSignal() != 0; });
    }
    if (!options.Serial.Place) {
        const int status = record(FlashBoard(options, source, outcome, nullptr), outcome);
        return SendRecord(line.get(), outcome, status);
    }
    FileSerialStore files(options.Serial.Source, {HostName(), OwnProcessId(), ""});
    SerialStore& store = options.Line.Pool.empty() ? static_cast<SerialStore&>(files) : *line;
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
    if (!serial.End(recorded == ExitStatus::Success, *outcome.Time,
                    outcome.Line.is_null() ? nullptr : &outcome.Line, why)) {
        Fail(ExitStatus::File, Format("serial number %s: %s; it is never given to another board",
                                      serial.Value().value_or("?").c_str(), why.c_str()));
        return std::max(recorded, ExitStatus::File);
    }
    return SendRecord(line.get(), outcome, recorded);
}
