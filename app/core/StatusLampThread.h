#pragma once
// The worker that turns the job's stage and progress counters into blinking lamps, the progress
// bar and the status text, and paints the end of the job.

#include <cstdint>
#include <memory>
#include <string>

class DialogLink;

// (count x 100) / total as the display computes it: the product wraps at 32 bits and the
// division is unsigned. A total of 0 gives 0.
std::int32_t ProgressPercentOf(std::int32_t count, std::int32_t total);

// The status figure: "%d", or "%#X" (upper-case hexadecimal, "0X" before values other than 0).
std::string StatusFigure(std::int32_t value, bool hex);

// Runs until the stage turns negative and the end has been shown; always returns 0.
std::uint32_t StatusLampThread(std::shared_ptr<DialogLink> link, std::uint32_t generation);
