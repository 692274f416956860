#pragma once
// Invariant checks shared by the fuzz targets: a broken invariant aborts, which libFuzzer reports
// as a crash and saves the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Filler placed after every output area; any other value there means a write past its end.
inline constexpr std::size_t GuardSize = 64;
inline constexpr std::uint8_t GuardFill = 0xA5;

inline void FuzzRequire(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

inline void FuzzRequireGuard(const std::uint8_t* guard, const char* invariant) {
    for (std::size_t i = 0; i < GuardSize; ++i) {
        FuzzRequire(guard[i] == GuardFill, invariant);
    }
}
