#pragma once

#include "capture/backend.h"

// The whole run on the main thread, on the platform's backend; returns the process exit code.
int runSequence(CaptureBackend& backend, int argc, const char* const* argv);
