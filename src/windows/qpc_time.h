// The performance counter in 100 ns units: the clock of GetBuffer's QPC positions.
#pragma once

#include <cstdint>

#include "windows/windows_sdk.h"

inline std::uint64_t performanceTime() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const auto c = static_cast<std::uint64_t>(count.QuadPart), f = static_cast<std::uint64_t>(frequency.QuadPart);
    return c / f * 10000000u + c % f * 10000000u / f;
}
