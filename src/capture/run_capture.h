#pragma once

#include <atomic>
#include <cstdint>

#include "options/capture_options.h"

// Sets up process-loopback capture of pid, runs the capture loop until `stop`
// is set (or the output or the service ends it) and tears down. 1 when a set-up step fails (its line is on standard error), 0 once
// capture has started, however it ended.
int runCapture(const CaptureOptions& options, std::uint32_t pid, const std::atomic<bool>& stop);
