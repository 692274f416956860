#include "sim/SimPort.h"

#include <chrono>
#include <thread>
#include <utility>

SimPort::SimPort(std::shared_ptr<BoardSession> board, std::uint32_t readTimeoutMs)
    : board_(std::move(board)), readTimeoutMs_(readTimeoutMs) {}

int SimPort::ReadByte(std::uint8_t* byte) {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_.wait_for(guard, std::chrono::milliseconds(readTimeoutMs_),
                      [this] { return closed_ || !pending_.empty(); });
    if (closed_) {
        return -1;
    }
    if (pending_.empty()) {
        return 0;
    }
    *byte = pending_.front();
    pending_.pop_front();
    return 1;
}

int SimPort::WriteByte(std::uint8_t byte) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_) {
            return -1;
        }
    }
    BoardOutput out = board_->Receive(byte);
    if (out.Bytes.empty()) {
        return 1;
    }
    std::this_thread::sleep_until(out.SendAt);
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.insert(pending_.end(), out.Bytes.begin(), out.Bytes.end());
    }
    arrived_.notify_all();
    return 1;
}

bool SimPort::Close() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
    }
    arrived_.notify_all();
    return true;
}

ComHandle AttachSimPort(std::shared_ptr<BoardSession> board, std::uint32_t readTimeoutMs) {
    return AttachPortDevice(std::make_shared<SimPort>(std::move(board), readTimeoutMs));
}
