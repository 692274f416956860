#pragma once
// Times as the API writes and reads them: UTC, ISO 8601, "2026-12-07T15:49:30.123Z"; stored as
// milliseconds since 1970 so that both engines compare and group them alike.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

std::string IsoFromMs(std::int64_t ms);
// "YYYY-MM-DDTHH:MM:SSZ", with an optional fraction of a second; none for anything else.
std::optional<std::int64_t> MsFromIso(std::string_view text);
