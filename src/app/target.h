#pragma once

#include <atomic>
#include <cstdint>

#include "capture/backend.h"
#include "options/capture_options.h"

enum class Resolved { Found, Failed, Stopped };

// The process to capture: the given pid, else the owner of the given window,
// else the one root of the processes with the given executable name (with
// --wait, once one runs). Writes the error line and returns Failed when that
// resolves to nothing; Stopped when `stop` was set while waiting for the name.
Resolved resolveTarget(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t& pid,
                       const std::atomic<bool>& stop);
