#include "target/FlashSequence.h"

#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/FastFlash.h"
#include "target/HexProgrammer.h"

#include <thread>

void FlashFace::Pause(std::chrono::milliseconds pause) {
    std::this_thread::sleep_for(pause);
}

namespace {

class Sequence {
public:
    Sequence(const FlashPlan& plan, FlashFace& face) : plan_(plan), face_(face) {}

    FlashReport Run() {
        const bool ok =
            Step(FlashStep::Connect, [this] { return Connect(); }) &&
            Step(FlashStep::File, [this] { return ChooseFile(); }) &&
            Step(FlashStep::TakeSerial, [this] { return face_.TakeSerial(); }) &&
            Step(FlashStep::BootMode, [] { return EnterBootMode(); }) &&
            Step(FlashStep::Erase, [this] { return Erase(); }) && Pause() &&
            Step(FlashStep::Write, [this] { return Write(); }) &&
            Step(FlashStep::WriteSerial, [this] { return face_.WriteSerial(report_.Rows); }) &&
            (!plan_.RunMode || Step(FlashStep::RunMode, [] { return SetRunMode(1); }));
        if (ok) {
            Step(FlashStep::Disconnect, [] { return DisconnectTarget(); });
        }
        return report_;
    }

private:
    template <class Body> bool Step(FlashStep step, Body&& body) {
        face_.Starting(step);
        report_ = FlashReport{step, 0, {}};
        report_.Code = body();
        face_.Ended(report_);
        return !report_.Failed();
    }

    std::int32_t Connect() const {
        return plan_.NamedPort ? ConnectNamedTarget(*plan_.NamedPort) : ConnectTarget();
    }

    std::int32_t ChooseFile() {
        file_ = face_.FileToWrite();
        return file_ != nullptr ? 0 : FlashResult::NoFile;
    }

    std::int32_t Erase() const {
        return plan_.Image != nullptr ? EraseForFastFlash(file_) : EraseForFlash(file_);
    }

    bool Pause() {
        face_.Pause(EraseToWritePause);
        return true;
    }

    std::int32_t Write() {
        return plan_.Image != nullptr ? ProgramImageFast(*plan_.Image, report_.Rows)
                                      : ProgramForFlash(file_, report_.Rows);
    }

    const FlashPlan& plan_;
    FlashFace& face_;
    FlashReport report_;
    const char* file_ = nullptr;
};

} // namespace

FlashReport RunFlashSequence(const FlashPlan& plan, FlashFace& face) {
    return Sequence(plan, face).Run();
}
