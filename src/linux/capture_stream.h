// A running capture: the server connection's loop, run by the program's own
// thread inside wait() the way parec runs it, one wake-up per packet. The
// target's exit (a pidfd) and console stop requests come through the same poll.
#pragma once

#include <atomic>
#include <memory>

#include "capture/backend.h"

namespace linuxaudio {

// Writes each step's line; null once one has failed. `stop`: the console's
// flag (null: none is watched).
std::unique_ptr<CaptureStream> openCapture(const CaptureRequest& request, const std::atomic<bool>* stop);

}  // namespace linuxaudio
