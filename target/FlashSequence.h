#pragma once
// The flash job's steps in their one order, for every program that flashes a board: connect and
// check the device, the file, the serial number taken, boot mode, erase, a pause, write with
// read-back, the serial number written, run mode, disconnect. The first step that fails ends the
// job, leaving the port as that step left it. What differs between the programs (stages, lamps
// and boxes; progress and messages; which port; a production line's serial number) comes
// through a FlashFace.

#include "target/FlashImage.h"

#include <chrono>
#include <cstdint>
#include <optional>

enum class FlashStep : std::uint8_t {
    Connect,     // ConnectTarget, or ConnectNamedTarget for a named port
    File,        // the face names the file to write
    TakeSerial,  // the face's serial number, before anything of the board changes
    BootMode,    // EnterBootMode
    Erase,       // EraseForFlash, or EraseForFastFlash for an image
    Write,       // ProgramForFlash, or ProgramImageFast for an image
    WriteSerial, // the face's serial number, after the image
    RunMode,     // SetRunMode(1), unless the board is to stay in boot mode
    Disconnect,  // DisconnectTarget
};

namespace FlashResult {
// The face named no file to write.
inline constexpr std::int32_t NoFile = -1;
} // namespace FlashResult

// The settling pause between the last erase and the first write.
inline constexpr std::chrono::milliseconds EraseToWritePause{1000};

struct FlashPlan {
    // An index of PortNameTable, opened without the port question; none: every port that opens
    // is offered to the port question (SetPortQuestion).
    std::optional<int> NamedPort;
    // Whole-row requests from this image (the fast programmer); null: the desktop program's
    // row-by-row traffic from the file.
    const FlashImage* Image = nullptr;
    bool RunMode = true; // false leaves the board in boot mode
};

// How a step ended.
struct FlashReport {
    FlashStep Step = FlashStep::Connect;
    // The step's result: negative when it failed. Connect: the port's index in PortNameTable.
    std::int32_t Code = 0;
    // Write and WriteSerial: the rows logged, and where a failure stopped.
    ImageFailure Rows;

    bool Failed() const { return Code < 0; }
};

class FlashFace {
public:
    virtual ~FlashFace() = default;

    // A step is about to run; steps not run (run mode when the board stays in boot mode) are not
    // announced.
    virtual void Starting(FlashStep step) = 0;
    // A step has ended; when it failed, the job ends after this call.
    virtual void Ended(const FlashReport& report) = 0;
    // Once connected, before the board changes: the HEX file to write, kept alive until the job
    // ends; null stops the job with the port kept open.
    virtual const char* FileToWrite() = 0;
    // A serial number, taken before boot mode and written after the image; a negative result
    // ends the job. Without one, nothing is done.
    virtual std::int32_t TakeSerial() { return 0; }
    virtual std::int32_t WriteSerial(ImageFailure&) { return 0; }
    // The pause between erasing and writing.
    virtual void Pause(std::chrono::milliseconds pause);
};

// Runs the job; returns the report of the last step that ran: Disconnect, not failed, when the
// whole job succeeded.
FlashReport RunFlashSequence(const FlashPlan& plan, FlashFace& face);
