#include "app/core/FlashJobThread.h"

#include "app/core/DialogLink.h"
#include "app/core/PortPermission.h"
#include "app/core/ThreadPriority.h"
#include "target/Connection.h"
#include "target/FlashSequence.h"
#include "target/HexCheck.h"
#include "target/TargetProfile.h"

#include <optional>
#include <string>
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

// The job as the dialog shows it: a lamp for each step that succeeds, the stage before each box.
class DialogJob : public FlashFace {
public:
    DialogJob(DialogLink& link, std::uint32_t job) : link_(link), job_(job) {}

    void Starting(FlashStep) override {}

    void Ended(const FlashReport& report) override {
        if (report.Failed()) {
            return;
        }
        switch (report.Step) {
        case FlashStep::Connect:
            // Ports from "\\.\COM11" on get no confirmation box.
            if (report.Code < 10) {
                ShowBox(link_, job_,
                        std::string("Check whether ") + PortNameTable[report.Code] +
                            " port is OK!");
            }
            Lamp(1);
            break;
        case FlashStep::Erase:
            Lamp(3);
            g_stage.store(StageWrite);
            break;
        case FlashStep::Write:
            Lamp(4);
            break;
        default:
            break;
        }
    }

    const char* FileToWrite() override {
        // The file dialog opens where the last file was chosen, and names no file.
        const PromptAnswer file =
            link_.Ask(Prompt{PromptKind::OpenHexFile, {}, {}, {}, false, link_.HexFolder(), job_});
        if (!file.accepted) {
            g_stage.store(StageNoFile);
            return nullptr;
        }
        // A file that cannot be written in full, or a log that cannot be kept, is found before
        // the erase, so the board keeps its application.
        link_.RememberHexFile(file.path);
        std::string chosen = file.path;
        const HexCheck check = CheckHexFileForFlash(
            chosen.c_str(), HexRowSettingsFromProfile(TargetProfile.AddressUnit));
        if (check.Fault != HexFault::None) {
            g_stage.store(StageNoFile);
            ShowBox(link_, job_, RefusedFileText(file.path, check));
            return nullptr;
        }
        g_stage.store(StageHexInput);
        Lamp(2);
        g_stage.store(StageClear);
        path_.emplace(std::move(chosen));
        return path_->c_str();
    }

    // What the job ended with, in the dialog and in the thread's result.
    std::uint32_t Finish(const FlashReport& report) {
        if (!report.Failed()) {
            link_.EnableFlash(job_);
            link_.EnableExit(job_);
            link_.Repaint(job_);
            g_stage.store(StageDone);
            return JobResult::Done;
        }
        switch (report.Step) {
        case FlashStep::Connect:
            return ConnectFailed();
        case FlashStep::File:
            return JobResult::NoFile;
        case FlashStep::Write:
            g_stage.store(StageWriteFailed);
            ShowBox(link_, job_, "Chip OK?  Writing failed!");
            return JobResult::WriteFailed;
        case FlashStep::RunMode:
            g_stage.store(StageWriteFailed);
            return JobResult::FinishFailed;
        case FlashStep::Disconnect:
            g_stage.store(StageFinishFailed);
            return JobResult::FinishFailed;
        default:
            // Boot mode comes first so that a board whose erase or write fails then stays in its
            // bootloader; to the user both are the erase.
            g_stage.store(StageClearFailed);
            ShowBox(link_, job_, "Please Check  if in Boot State or not?");
            return JobResult::ClearFailed;
        }
    }

private:
    void Lamp(int n) {
        link_.DrawLamp(job_, n, ColorLampDone);
        link_.Repaint(job_);
    }

    std::uint32_t ConnectFailed() {
        link_.DrawLamp(job_, 1, ColorLampFailed);
        link_.SetProgress(job_, 0);
        link_.SetStatus(job_, "0");
        link_.EnableFlash(job_);
        link_.EnableExit(job_);
        link_.Repaint(job_);
        g_stage.store(StageConnectFailed);
        if (const std::string advice = PortPermissionAdvice(); !advice.empty()) {
            ShowBox(link_, job_, advice);
        }
        ShowBox(link_, job_,
                "Please Check (1) Cable Wired or not? (2) PC COM Port "
                "Correct or not ?(3)PIC Chip Correct or not ?");
        return JobResult::ConnectFailed;
    }

    DialogLink& link_;
    std::uint32_t job_;
    std::optional<HexPathLoan> path_;
};

} // namespace

std::uint32_t FlashJobThread(std::shared_ptr<DialogLink> link, std::uint32_t generation) {
    RaiseOwnPriority();
    g_stage.store(StageIdle);
    g_stage.store(StageConnect);
    DialogJob job(*link, generation);
    return job.Finish(RunFlashSequence(FlashPlan{}, job));
}
