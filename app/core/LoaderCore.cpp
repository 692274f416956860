#include "app/core/LoaderCore.h"

#include "app/core/FlashJobThread.h"
#include "app/core/StatusLampThread.h"
#include "link/PortNames.h"
#include "target/Connection.h"
#include "target/EraseRunMode.h"
#include "target/TargetProfile.h"

#include <atomic>
#include <thread>

LoaderCore::LoaderCore(DialogFace& face)
    : face_(face), link_(std::make_shared<DialogLink>(&face)) {}

LoaderCore::~LoaderCore() {
    Close();
}

void LoaderCore::Close() {
    link_->Close();
}

void LoaderCore::OnInitDialog() {
    g_stage.store(StageIdle);
    ProgressPercent.store(0);
    face_.SetProgress(0);

    DrawAllLamps(ColorLampOff);
    face_.SetStatus(StartupBanner);
    LoadDefaults();

    // ConnectTarget asks about each port through this dialog, from whichever thread calls it.
    std::weak_ptr<DialogLink> weak = link_;
    SetPortQuestion([weak](const char* text, const char* caption) {
        const std::shared_ptr<DialogLink> link = weak.lock();
        if (!link) {
            return false;
        }
        Prompt prompt;
        prompt.kind = PromptKind::PortQuestion;
        prompt.text = text;
        prompt.caption = caption;
        prompt.detail = ResolveComName(text);
        return link->Ask(prompt).accepted;
    });
}

void LoaderCore::DrawAllLamps(LampColor color) {
    for (int lamp = 1; lamp <= LampCount; ++lamp) {
        link_->Strip().DrawLamp(lamp, color);
    }
}

bool LoaderCore::Ask(PromptKind kind, const std::string& text) {
    Prompt prompt;
    prompt.kind = kind;
    prompt.text = text;
    prompt.caption = AppTitle;
    return link_->Ask(prompt).accepted;
}

void LoaderCore::OnFlash() {
    face_.DisableJobButtons();
    DrawAllLamps(ColorLampOff);
    face_.SetExitText("CANCEL");
    face_.Repaint();
    ProgressPercent.store(100);
    face_.SetStatus(StatusFigure(ProgressPercent.load(), false));
    g_stage.store(StageIdle);

    const std::uint32_t generation = link_->StartJob();
    const std::shared_ptr<DialogLink> link = link_;
    link_->StartWorker([link, generation] { FlashJobThread(link, generation); });
    link_->StartWorker([link, generation] { StatusLampThread(link, generation); });
}

void LoaderCore::OnConnect() {
    const std::int32_t port = ConnectTarget();
    if (port >= 0) {
        face_.SetStatus(StatusFigure(port, false));
        DrawAllLamps(ColorLampConnected);
        face_.Repaint();
    }
}

void LoaderCore::OnRun() {
    SetRunMode(1);
}

bool LoaderCore::OnExit() {
    if (const std::int32_t stage = g_stage.load(); stage != StageDone && stage != StageIdle) {
        if (!Ask(PromptKind::OkCancel, "Are you really want to exit")) {
            return false;
        }
    }
    if (g_stage.load() == StageIdle &&
        Ask(PromptKind::OkCancel, "Korvane 27-05 Run Mode Setting")) {
        WaitBeside([] {
            ConnectTarget();
            if (SetRunMode(1) < 0) {
                SetRunMode(1);
            }
        });
    }
    DisconnectTarget();
    return true;
}

void LoaderCore::WaitBeside(const std::function<void()>& work) {
    // A board that does not answer keeps the port calls busy for many seconds: they run on a
    // thread of their own while this one keeps the dialog painted and its questions answered.
    busy_ = true;
    link_->SetWaiting(true);
    face_.SetStatus(RunModeWaitText);
    face_.SetBusyCursor(true);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done.store(true, std::memory_order_release);
    });
    face_.KeepPaintingUntil([&] { return done.load(std::memory_order_acquire); });
    worker.join();
    face_.SetBusyCursor(false);
    link_->SetWaiting(false);
    busy_ = false;
}
