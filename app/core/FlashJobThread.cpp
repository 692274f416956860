#include "app/core/FlashJobThread.h"

#include "app/core/DialogLink.h"
#include "app/core/PortPermission.h"
#include "app/core/ThreadPriority.h"
#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/HexCheck.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

namespace {

// The profile keeps a pointer to the path the job hands to the erase and the programmer; the
// job's own copy dies with the job, so the profile gets its previous text back then.
class HexPathLoan {
public:
    explicit HexPathLoan(std::string path)
        : path_(std::move(path)), previous_(TargetProfile.HexPath.load()) {}
    ~HexPathLoan() {
        const char* mine = path_.c_str();
        TargetProfile.HexPath.compare_exchange_strong(mine, previous_);
    }
    HexPathLoan(const HexPathLoan&) = delete;
    HexPathLoan& operator=(const HexPathLoan&) = delete;
    const char* c_str() const { return path_.c_str(); }

private:
    std::string path_;
    const char* previous_;
};

void ShowBox(DialogLink& link, std::uint32_t job, const std::string& text) {
    link.Ask(Prompt{PromptKind::Message, text, AppTitle, {}, false, {}, job});
}

// The file, the line and the reason, for a file that is refused before anything is erased.
std::string RefusedFileText(const std::string& file, const HexCheck& check) {
    std::string text = file + "\n";
    if (check.ErrorLine > 0) {
        text += "Line " + std::to_string(check.ErrorLine) + ": ";
    }
    return text + check.Error + ".\nThe board was not erased or written.";
}

} // namespace

std::uint32_t FlashJobThread(std::shared_ptr<DialogLink> link, std::uint32_t generation) {
    RaiseOwnPriority();
    g_stage.store(StageIdle);
    g_stage.store(StageConnect);

    const std::int32_t port = ConnectTarget();
    // Ports from "\\.\COM11" on get no confirmation box.
    if (port >= 0 && port < 10) {
        ShowBox(*link, generation,
                std::string("Check whether ") + PortNameTable[port] + " port is OK!");
    }
    if (port < 0) {
        link->DrawLamp(generation, 1, ColorLampFailed);
        link->SetProgress(generation, 0);
        link->SetStatus(generation, "0");
        link->EnableFlash(generation);
        link->EnableExit(generation);
        link->Repaint(generation);
        g_stage.store(StageConnectFailed);
        if (const std::string advice = PortPermissionAdvice(); !advice.empty()) {
            ShowBox(*link, generation, advice);
        }
        ShowBox(*link, generation,
                "Please Check (1) Cable Wired or not? (2) PC COM Port "
                "Correct or not ?(3)PIC Chip Correct or not ?");
        return JobResult::ConnectFailed;
    }
    link->DrawLamp(generation, 1, ColorLampDone);
    link->Repaint(generation);

    // The file dialog opens where the last file was chosen, and names no file.
    const PromptAnswer file = link->Ask(
        Prompt{PromptKind::OpenHexFile, {}, {}, {}, false, link->HexFolder(), generation});
    if (!file.accepted) {
        g_stage.store(StageNoFile);
        return JobResult::NoFile;
    }
    // A file that cannot be written in full, or a log that cannot be kept, is found before the
    // erase, so the board keeps its application.
    link->RememberHexFile(file.path);
    std::string chosen = file.path;
    const HexCheck check =
        CheckHexFileForFlash(chosen.c_str(), HexRowSettingsFromProfile(TargetProfile.AddressUnit));
    if (check.Fault != HexFault::None) {
        g_stage.store(StageNoFile);
        ShowBox(*link, generation, RefusedFileText(file.path, check));
        return JobResult::NoFile;
    }
    g_stage.store(StageHexInput);
    link->DrawLamp(generation, 2, ColorLampDone);
    link->Repaint(generation);
    g_stage.store(StageClear);

    HexPathLoan path(std::move(chosen));
    // Boot mode first: a board whose erase or write fails then stays in its bootloader.
    if (EnterBootMode() < 0 || EraseForFlash(path.c_str()) < 0) {
        g_stage.store(StageClearFailed);
        ShowBox(*link, generation, "Please Check  if in Boot State or not?");
        return JobResult::ClearFailed;
    }
    link->DrawLamp(generation, 3, ColorLampDone);
    link->Repaint(generation);
    g_stage.store(StageWrite);

    // A settling pause between the last erase and the first write.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    if (ProgramForFlash(path.c_str()) < 0) {
        g_stage.store(StageWriteFailed);
        ShowBox(*link, generation, "Chip OK?  Writing failed!");
        return JobResult::WriteFailed;
    }
    link->DrawLamp(generation, 4, ColorLampDone);
    link->Repaint(generation);

    if (SetRunMode(1) < 0) {
        g_stage.store(StageWriteFailed);
        return JobResult::FinishFailed;
    }
    if (DisconnectTarget() < 0) {
        g_stage.store(StageFinishFailed);
        return JobResult::FinishFailed;
    }
    link->EnableFlash(generation);
    link->EnableExit(generation);
    link->Repaint(generation);
    g_stage.store(StageDone);
    return JobResult::Done;
}
