#pragma once
// What the worker threads hold instead of the dialog: the lamp strip and the display operations,
// carried out for them on the user-interface thread, and the questions they wait on. Once the
// dialog has ended nothing reaches it any more, so threads left running at exit are harmless.

#include "app/LampStrip.h"
#include "app/Prompts.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CLoaderDlg;

class DialogLink : public std::enable_shared_from_this<DialogLink> {
public:
    // Created by the dialog on the user-interface thread.
    explicit DialogLink(CLoaderDlg* dialog);

    // Starts a new job's generation; requests of older jobs' threads are dropped from now on,
    // so a lamp thread still in its closing pause cannot re-enable Flash under a new job.
    std::uint32_t StartJob();
    bool Current(std::uint32_t generation) const;

    // The display operations. Any thread; dropped once the dialog has ended or when the
    // generation is not the current one.
    void DrawLamp(std::uint32_t generation, int n, QRgb color);
    void SetProgress(std::uint32_t generation, int position);
    void SetStatus(std::uint32_t generation, const QString& text);
    void SetExitText(std::uint32_t generation, const QString& text);
    void EnableExit(std::uint32_t generation);
    void EnableFlash(std::uint32_t generation);
    void Repaint(std::uint32_t generation);

    // Puts a question and blocks the calling thread until it is answered. On the user-interface
    // thread the dialog takes no input meanwhile; from another thread it stays usable. Once the
    // dialog has ended, the answer is "not accepted".
    PromptAnswer Ask(Prompt prompt);

    // Called by the dialog as it ends; no request reaches it after this returns.
    void Close();
    bool Alive() const;

    // The strip is drawn by every thread and copied by the paint handler.
    LampStrip& Strip() { return strip_; }

    // Runs body on a new thread that nobody waits for; counted while it runs.
    void StartWorker(std::function<void()> body);
    int RunningWorkers() const;

private:
    struct Pending {
        bool done = false;
        PromptAnswer answer;
    };

    // Queues op for the dialog on its thread, unless the request is stale, and drops it when
    // it has gone stale by the time it runs.
    void Post(std::uint32_t generation, std::function<void(CLoaderDlg&)> op);
    void Deliver(const std::shared_ptr<Pending>& pending, const PromptAnswer& answer);

    mutable std::mutex lock_;
    std::condition_variable answered_;
    CLoaderDlg* dialog_;
    std::uint32_t generation_ = 0;
    int workers_ = 0;
    const std::thread::id uiThread_;
    LampStrip strip_;
};
