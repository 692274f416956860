#pragma once
// The time stamps of records and journals: UTC, ISO 8601, to the second.

#include <string>

// "2026-12-07T15:04:05Z"
std::string UtcTimeNow();
