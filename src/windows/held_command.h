// A command started for a capture: created suspended, its first thread
// resumed once the capture of its tree has started.
#pragma once

#include <memory>

#include "capture/backend.h"

std::unique_ptr<HeldCommand> startHeldCommand(const char* const* argv, const char* outputPath, int& status);
