// The one line a failed platform call gets: what failed and its status.
#pragma once

#include <cstdio>

#include "windows/windows_sdk.h"

// Always false, so a step can end with `return reportFailure(...)`.
inline bool reportFailure(const char* call, HRESULT hr) {
    std::fprintf(stderr, "error: %s hr=0x%08X\n", call, static_cast<unsigned>(hr));
    return false;
}
