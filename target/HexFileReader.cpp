#include "target/HexFileReader.h"

#include "target/HexProgrammer.h"

namespace {

std::FILE* OpenForPass(const char* path, HexPass pass, std::int32_t lines) {
    if (lines < 0) {
        return nullptr;
    }
    return std::fopen(path, pass == HexPass::Programmer ? "r" : "rb");
}

} // namespace

HexFileReader::HexFileReader(const char* path, const HexRowSettings& settings, HexPass pass)
    : settings_(settings), pass_(pass),
      lines_(pass == HexPass::Programmer ? CountHexLines(path) : 0),
      file_(OpenForPass(path, pass, lines_)), reader_(file_.get()) {}

bool HexFileReader::Stop(DecodedRecord& record, HexDefect defect, std::int32_t code) {
    record.Defect = defect;
    record.Code = code;
    over_ = true;
    return true;
}

bool HexFileReader::Next(DecodedRecord& record) {
    if (over_ || !file_ || lastType_ == HexType::EndOfFile) {
        return false;
    }
    record = DecodedRecord{};
    if (pass_ == HexPass::Programmer && records_ >= lines_) {
        over_ = true;
        if (!reader_.SkipToRecord()) {
            return false;
        }
        record.Record.Line = reader_.Line();
        return Stop(record, HexDefect::PastLineCount, ProgramResult::BadRecord);
    }
    record.Status = reader_.Next(record.Record);
    if (record.Status == HexStatus::NoMoreInput) {
        over_ = true;
        return false;
    }
    record.Upper = upper_;
    if (record.Status != HexStatus::Record) {
        return Stop(record, HexDefect::Text, ProgramResult::BadRecord);
    }
    if (const std::int32_t code = PlanHexRecord(record.Record, upper_, settings_, record.Plan);
        code < 0) {
        return Stop(record, HexDefect::Content, code);
    }
    ++records_;
    lastType_ = record.Record.Type;
    return true;
}
