#pragma once
// The worker that runs one flash job: connect, choose the file, erase, write, run mode,
// disconnect, reporting each step through g_stage and the lamps.

#include <cstdint>
#include <memory>

class DialogLink;

// What the job ended with; nothing reads it.
namespace JobResult {
inline constexpr std::uint32_t Done = 0;
inline constexpr std::uint32_t ConnectFailed = 1;
inline constexpr std::uint32_t NoFile = 2;
inline constexpr std::uint32_t ClearFailed = 3;
inline constexpr std::uint32_t WriteFailed = 4;
inline constexpr std::uint32_t FinishFailed = 5;
} // namespace JobResult

std::uint32_t FlashJobThread(std::shared_ptr<DialogLink> link, std::uint32_t generation);
