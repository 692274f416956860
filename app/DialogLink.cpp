#include "app/DialogLink.h"

#include "app/CLoaderDlg.h"

#include <QMetaObject>

#include <utility>

namespace {

// The toolkit's event queue synchronises through futexes that ThreadSanitizer cannot see. Taking
// this mutex around each hand-over, on both sides, makes the ordering of a request's data visible
// to it; the cost is one uncontended lock per request.
std::mutex& Handover() {
    static std::mutex m;
    return m;
}

} // namespace

DialogLink::DialogLink(CLoaderDlg* dialog)
    : dialog_(dialog), uiThread_(std::this_thread::get_id()) {}

std::uint32_t DialogLink::StartJob() {
    std::lock_guard<std::mutex> guard(lock_);
    return ++generation_;
}

bool DialogLink::Current(std::uint32_t generation) const {
    std::lock_guard<std::mutex> guard(lock_);
    return dialog_ != nullptr && generation == generation_;
}

void DialogLink::Post(std::uint32_t generation, std::function<void(CLoaderDlg&)> op) {
    std::lock_guard<std::mutex> guard(lock_);
    if (dialog_ == nullptr || generation != generation_) {
        return;
    }
    // Posting under the lock: Close() cannot slip in between the check and the post, and the
    // toolkit drops posted calls of a dialog that is destroyed before they run.
    CLoaderDlg* dialog = dialog_;
    std::lock_guard<std::mutex> handover(Handover());
    QMetaObject::invokeMethod(
        dialog,
        [dialog, self = weak_from_this(), generation, op = std::move(op)] {
            { std::lock_guard<std::mutex> received(Handover()); }
            // A new job may have started while the call waited in the queue: an old job's
            // closing "EXIT" must not land on the new job's "CANCEL".
            if (const auto link = self.lock(); link && link->Current(generation)) {
                op(*dialog);
            }
        },
        Qt::QueuedConnection);
}

void DialogLink::DrawLamp(std::uint32_t generation, int n, QRgb color) {
    std::lock_guard<std::mutex> guard(lock_);
    if (dialog_ != nullptr && generation == generation_) {
        strip_.DrawLamp(n, color);
    }
}

void DialogLink::SetProgress(std::uint32_t generation, int position) {
    Post(generation, [position](CLoaderDlg& d) { d.SetProgress(position); });
}

void DialogLink::SetStatus(std::uint32_t generation, const QString& text) {
    Post(generation, [text](CLoaderDlg& d) { d.SetStatus(text); });
}

void DialogLink::SetExitText(std::uint32_t generation, const QString& text) {
    Post(generation, [text](CLoaderDlg& d) { d.SetExitText(text); });
}

void DialogLink::EnableExit(std::uint32_t generation) {
    Post(generation, [](CLoaderDlg& d) { d.EnableExit(); });
}

void DialogLink::EnableFlash(std::uint32_t generation) {
    Post(generation, [](CLoaderDlg& d) { d.EnableFlash(); });
}

void DialogLink::Repaint(std::uint32_t generation) {
    Post(generation, [](CLoaderDlg& d) { d.update(); });
}

PromptAnswer DialogLink::Ask(Prompt prompt) {
    if (std::this_thread::get_id() == uiThread_) {
        CLoaderDlg* dialog = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            dialog = dialog_;
        }
        if (dialog == nullptr) {
            return {};
        }
        prompt.modal = true;
        return dialog->AskHere(prompt);
    }
    prompt.modal = false;
    auto pending = std::make_shared<Pending>();
    std::unique_lock<std::mutex> guard(lock_);
    if (dialog_ == nullptr) {
        return {};
    }
    CLoaderDlg* dialog = dialog_;
    std::weak_ptr<DialogLink> self = weak_from_this();
    std::unique_lock<std::mutex> handover(Handover());
    QMetaObject::invokeMethod(
        dialog,
        [dialog, prompt, pending, self] {
            { std::lock_guard<std::mutex> received(Handover()); }
            dialog->ShowPrompt(prompt, [pending, self](const PromptAnswer& answer) {
                if (auto link = self.lock()) {
                    link->Deliver(pending, answer);
                }
            });
        },
        Qt::QueuedConnection);
    handover.unlock();
    answered_.wait(guard, [&] { return pending->done || dialog_ == nullptr; });
    return pending->done ? pending->answer : PromptAnswer{};
}

void DialogLink::Deliver(const std::shared_ptr<Pending>& pending, const PromptAnswer& answer) {
    std::lock_guard<std::mutex> guard(lock_);
    pending->done = true;
    pending->answer = answer;
    answered_.notify_all();
}

void DialogLink::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    dialog_ = nullptr;
    answered_.notify_all();
}

bool DialogLink::Alive() const {
    std::lock_guard<std::mutex> guard(lock_);
    return dialog_ != nullptr;
}

void DialogLink::StartWorker(std::function<void()> body) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++workers_;
    }
    std::thread([self = shared_from_this(), body = std::move(body)] {
        body();
        std::lock_guard<std::mutex> guard(self->lock_);
        --self->workers_;
    }).detach();
}

int DialogLink::RunningWorkers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return workers_;
}
