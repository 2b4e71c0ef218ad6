#pragma once

#include <cstdint>

#include "capture/backend.h"
#include "options/capture_options.h"

// The process to capture: the given pid, else the owner of the given window,
// else the one root of the processes with the given executable name. Writes the
// error line and returns false when that resolves to nothing.
bool resolveTarget(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t& pid);
