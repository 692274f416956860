#include "cli/Interruption.h"

#include "link/Packet.h"

#include <atomic>
#include <map>
#include <thread>

namespace {

std::atomic<const char*> currentStage{"start"};

} // namespace

void NoteStage(const char* stage) {
    currentStage.store(stage, std::memory_order_relaxed);
}

const char* CurrentStage() {
    return currentStage.load(std::memory_order_relaxed);
}

std::string WhileStage(const std::string& stage) {
    static const std::map<std::string, std::string> Words = {
        {"start", "starting"}, {"connect", "connecting"}, {"erase", "erasing"},
        {"write", "writing"},  {"verify", "verifying"},   {"run-mode", "setting run mode"}};
    const auto word = Words.find(stage);
    return "while " + (word == Words.end() ? stage : word->second);
}

std::string InterruptedResult(const std::string& stage) {
    return "interrupted " + WhileStage(stage);
}

void PauseUnlessStopped(std::chrono::milliseconds pause) {
    constexpr auto Slice = std::chrono::milliseconds(20);
    const auto end = std::chrono::steady_clock::now() + pause;
    while (!StopRequested() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            Slice, end - std::chrono::steady_clock::now()));
    }
}
