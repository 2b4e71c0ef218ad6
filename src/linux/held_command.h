// A command started for a capture: forked, and held before its exec until the
// capture listens, so the server's first event about its streams finds the
// capture subscribed.
#pragma once

#include <memory>

#include "capture/backend.h"

namespace linuxaudio {

std::unique_ptr<HeldCommand> startHeldCommand(const char* const* argv, const char* outputPath, int& status);

}  // namespace linuxaudio
