#include "app/core/DialogLink.h"

#include "app/core/PathSeparators.h"

#include <utility>

DialogLink::DialogLink(DialogFace* face) : face_(face), uiThread_(std::this_thread::get_id()) {}

std::uint32_t DialogLink::StartJob() {
    std::vector<JobBox> older;
    std::uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        generation = ++generation_;
        older.swap(jobBoxes_);
        // Their threads go on as if the box had been closed with its button.
        for (const JobBox& box : older) {
            box.pending->done = true;
        }
        answered_.notify_all();
    }
    // Without the lock: a toolkit may run events while a window closes.
    for (const JobBox& box : older) {
        if (box.close) {
            box.close();
        }
    }
    return generation;
}

bool DialogLink::Current(std::uint32_t generation) const {
    std::lock_guard<std::mutex> guard(lock_);
    return face_ != nullptr && generation == generation_;
}

DialogFace* DialogLink::LiveFace() const {
    std::lock_guard<std::mutex> guard(lock_);
    return face_;
}

DialogFace* DialogLink::FaceFor(std::uint32_t generation) const {
    std::lock_guard<std::mutex> guard(lock_);
    return generation == generation_ ? face_ : nullptr;
}

void DialogLink::Post(std::uint32_t generation, std::function<void(DialogFace&)> op) {
    std::lock_guard<std::mutex> guard(lock_);
    if (face_ == nullptr || generation != generation_) {
        return;
    }
    // Posting under the lock: Close() cannot slip in between the check and the post.
    face_->Post([self = weak_from_this(), generation, op = std::move(op)] {
        // A new job may have started while the call waited in the queue: an old job's
        // closing "EXIT" must not land on the new job's "CANCEL".
        if (const auto link = self.lock()) {
            if (DialogFace* face = link->FaceFor(generation)) {
                op(*face);
            }
        }
    });
}

void DialogLink::DrawLamp(std::uint32_t generation, int n, LampColor color) {
    std::lock_guard<std::mutex> guard(lock_);
    if (face_ != nullptr && generation == generation_) {
        strip_.DrawLamp(n, color);
    }
}

void DialogLink::SetProgress(std::uint32_t generation, int position) {
    Post(generation, [position](DialogFace& d) { d.SetProgress(position); });
}

void DialogLink::SetStatus(std::uint32_t generation, const std::string& text) {
    Post(generation, [text](DialogFace& d) { d.SetStatus(text); });
}

void DialogLink::SetExitText(std::uint32_t generation, const std::string& text) {
    Post(generation, [text](DialogFace& d) { d.SetExitText(text); });
}

void DialogLink::EnableExit(std::uint32_t generation) {
    Post(generation, [](DialogFace& d) { d.EnableExit(); });
}

void DialogLink::EnableFlash(std::uint32_t generation) {
    Post(generation, [](DialogFace& d) {
        d.EnableFlash();
        d.FocusFlash();
    });
}

void DialogLink::Repaint(std::uint32_t generation) {
    Post(generation, [](DialogFace& d) { d.Repaint(); });
}

PromptAnswer DialogLink::Ask(Prompt prompt) {
    if (std::this_thread::get_id() == uiThread_) {
        DialogFace* face = LiveFace();
        if (face == nullptr) {
            return {};
        }
        prompt.modal = true;
        return face->AskHere(prompt);
    }
    auto pending = std::make_shared<Pending>();
    std::unique_lock<std::mutex> guard(lock_);
    if (face_ == nullptr || (prompt.job != 0 && prompt.job != generation_)) {
        return {};
    }
    std::weak_ptr<DialogLink> self = weak_from_this();
    face_->Post([self, prompt, pending] {
        if (const auto link = self.lock()) {
            link->Show(prompt, pending);
        }
    });
    answered_.wait(guard, [&] { return pending->done || face_ == nullptr; });
    return pending->done ? pending->answer : PromptAnswer{};
}

void DialogLink::Show(const Prompt& prompt, const std::shared_ptr<Pending>& pending) {
    DialogFace* face = nullptr;
    Prompt shown = prompt;
    {
        std::lock_guard<std::mutex> guard(lock_);
        face = face_;
        if (face == nullptr) {
            return;
        }
        // A newer job started while the question waited in the queue: it is not shown at all.
        if (prompt.job != 0 && prompt.job != generation_) {
            pending->done = true;
            answered_.notify_all();
            return;
        }
        // While the dialog waits for work of its own, the work's questions are the dialog's.
        shown.modal = waiting_;
    }
    std::weak_ptr<DialogLink> self = weak_from_this();
    PromptCloser close = face->ShowPrompt(shown, [pending, self](const PromptAnswer& answer) {
        if (auto asker = self.lock()) {
            asker->Deliver(pending, answer);
        }
    });
    std::lock_guard<std::mutex> guard(lock_);
    // A box answered at once, or a question of the dialog's own, needs no closing.
    if (prompt.job != 0 && !pending->done) {
        jobBoxes_.push_back({pending, std::move(close)});
    }
}

void DialogLink::SetWaiting(bool waiting) {
    std::lock_guard<std::mutex> guard(lock_);
    waiting_ = waiting;
}

std::string DialogLink::HexFolder() const {
    std::lock_guard<std::mutex> guard(lock_);
    return hexFolder_;
}

void DialogLink::RememberHexFile(const std::string& path) {
    // The path as the file dialog gave it, in the program's narrow encoding: split as bytes.
    const std::size_t cut = path.find_last_of(PathSeparators);
    std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    std::lock_guard<std::mutex> guard(lock_);
    hexFolder_ = std::move(folder);
}

void DialogLink::Deliver(const std::shared_ptr<Pending>& pending, const PromptAnswer& answer) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(jobBoxes_, [&](const JobBox& box) { return box.pending == pending; });
    if (pending->done) {
        return;
    }
    pending->done = true;
    pending->answer = answer;
    answered_.notify_all();
}

void DialogLink::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    face_ = nullptr;
    jobBoxes_.clear();
    answered_.notify_all();
}

bool DialogLink::Alive() const {
    std::lock_guard<std::mutex> guard(lock_);
    return face_ != nullptr;
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
