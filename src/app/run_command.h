#pragma once

#include <atomic>

#include "capture/backend.h"
#include "options/capture_options.h"

// Starts the options' command held, captures its tree from its first sample
// until it exits (or a stop or the duration ends the capture), then waits for
// it. The command's exit status; 127 / 126 when it is not found or cannot
// run, 1 when the run fails before the command could start.
int runCommand(CaptureBackend& backend, CaptureOptions options, const std::atomic<bool>& stop);
