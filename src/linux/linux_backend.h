// The capture backend for Linux: libpulse on its stock main loop, POSIX
// signals, /proc, pidfd and xcb.
#pragma once

#include <memory>

#include "capture/backend.h"

// Also makes sure standard descriptors 0-2 are taken and that writes to a
// gone reader or past the file-size limit fail rather than end the process.
std::unique_ptr<CaptureBackend> newLinuxBackend();
