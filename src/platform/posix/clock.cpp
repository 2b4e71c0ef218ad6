// The tick count: milliseconds of a clock that never goes back or jumps with
// the wall clock, as Windows' counts since boot.
#include <ctime>

#include "platform/platform.h"

ULONGLONG GetTickCount64() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}
