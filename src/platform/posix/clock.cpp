// The tick count and the performance counter: one clock that never goes back
// or jumps with the wall clock, as Windows' counts since boot.
#include <ctime>

#include "platform/platform.h"

namespace {
timespec monotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}
}  // namespace

ULONGLONG GetTickCount64() {
    const timespec now = monotonic();
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    const timespec now = monotonic();
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 10000000;
    return TRUE;
}
