#pragma once

#include <atomic>
#include <cstdint>

#include "capture/backend.h"
#include "options/capture_options.h"

// Opens the platform's capture of pid, runs the capture loop until `stop` is
// set (or a limit, the output or the stream ends it) and tears down. 1 when
// the capture could not be opened (its line is on standard error), 0 once
// capture has started, however it ended. A held `command` (pid's) is released
// as soon as the capture runs; if it cannot start after all, the capture
// stops and its status (126, 127) is returned.
int runCapture(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t pid,
               const std::atomic<bool>& stop, HeldCommand* command = nullptr);
