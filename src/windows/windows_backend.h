// The program's capture backend on Windows: WASAPI process loopback, the
// multimedia scheduler, toolhelp and the console, called directly.
#pragma once

#include <memory>

#include "capture/backend.h"

std::unique_ptr<CaptureBackend> newWindowsBackend();
