#include "app/win32/UiQueue.h"

#include <utility>

void UiQueue::Post(std::function<void()> op) {
    std::lock_guard<std::mutex> guard(lock_);
    if (window_ == nullptr) {
        return;
    }
    ops_.push_back(std::move(op));
    // One message for a run of calls: the dialog takes all that are queued when it comes.
    if (ops_.size() == 1) {
        PostMessageA(window_, WM_RUN_QUEUED, 0, 0);
    }
}

void UiQueue::RunAll() {
    std::deque<std::function<void()>> ops;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ops.swap(ops_);
    }
    // Run without the lock: a call may queue the next one.
    for (const std::function<void()>& op : ops) {
        op();
    }
}

void UiQueue::Close() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard<std::mutex> guard(lock_);
    window_ = nullptr;
    dropped.swap(ops_);
}
