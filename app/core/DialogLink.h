#pragma once
// What the worker threads hold instead of the dialog: the lamp strip and the display operations,
// carried out for them on the user-interface thread, and the questions they wait on. Once the
// dialog has ended nothing reaches it any more, so threads left running at exit are harmless.

#include "app/core/DialogFace.h"
#include "app/core/LampStrip.h"
#include "app/core/Prompts.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DialogLink : public std::enable_shared_from_this<DialogLink> {
public:
    // Created by the dialog on the user-interface thread.
    explicit DialogLink(DialogFace* face);

    // Starts a new job's generation; requests of older jobs' threads are dropped from now on,
    // so a lamp thread still in its closing pause cannot re-enable Flash under a new job. A box of
    // an older job that is still open is closed, unanswered, so that the box on the screen always
    // belongs to the job that runs. On the user-interface thread.
    std::uint32_t StartJob();
    bool Current(std::uint32_t generation) const;

    // The display operations. Any thread; dropped once the dialog has ended or when the
    // generation is not the current one.
    void DrawLamp(std::uint32_t generation, int n, LampColor color);
    void SetProgress(std::uint32_t generation, int position);
    void SetStatus(std::uint32_t generation, const std::string& text);
    void SetExitText(std::uint32_t generation, const std::string& text);
    void EnableExit(std::uint32_t generation);
    // Enables Flash and gives it the keyboard focus: a key pressed after a job starts the next
    // job rather than landing on EXIT.
    void EnableFlash(std::uint32_t generation);
    void Repaint(std::uint32_t generation);

    // Puts a question and blocks the calling thread until it is answered. On the user-interface
    // thread the dialog takes no input meanwhile; from another thread it stays usable, unless the
    // user-interface thread is itself waiting (SetWaiting). Once the dialog has ended, and for a
    // job's question once a newer job has started, the answer is "not accepted".
    PromptAnswer Ask(Prompt prompt);

    // While the user-interface thread waits for work of its own, the questions of that work are
    // the dialog's own: they keep input away from it.
    void SetWaiting(bool waiting);

    // The folder of the HEX file chosen last in this run of the program; empty before the first.
    std::string HexFolder() const;
    void RememberHexFile(const std::string& path);

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
    // A job's box on the screen, and what closes it.
    struct JobBox {
        std::shared_ptr<Pending> pending;
        PromptCloser close;
    };

    // Queues op for the face on its thread, unless the request is stale, and drops it when it
    // has gone stale by the time it runs.
    void Post(std::uint32_t generation, std::function<void(DialogFace&)> op);
    // The face on the user-interface thread, or null once the dialog has ended (or, with a
    // generation, when that job is no longer the current one).
    DialogFace* LiveFace() const;
    DialogFace* FaceFor(std::uint32_t generation) const;
    // On the user-interface thread: shows a question that a worker thread waits on, unless it
    // belongs to a job that is over.
    void Show(const Prompt& prompt, const std::shared_ptr<Pending>& pending);
    // The first answer counts; a box closed by a newer job has been answered already.
    void Deliver(const std::shared_ptr<Pending>& pending, const PromptAnswer& answer);

    mutable std::mutex lock_;
    std::condition_variable answered_;
    DialogFace* face_;
    std::uint32_t generation_ = 0;
    int workers_ = 0;
    bool waiting_ = false;
    std::string hexFolder_;
    std::vector<JobBox> jobBoxes_;
    const std::thread::id uiThread_;
    LampStrip strip_;
};
