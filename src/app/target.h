#pragma once

#include <cstdint>

#include "options/capture_options.h"

// The process to capture: the given pid, else the owner of the given window.
// Writes the error line and returns false when the window resolves to nothing.
bool resolveTarget(const CaptureOptions& options, std::uint32_t& pid);
