// The processes with playback streams on the server, as --list shows them.
#pragma once

#include <vector>

#include "capture/backend.h"

namespace linuxaudio {

// One entry per process (selection.h says whose a stream is; 0: nobody's),
// active while any of its streams is not paused (corked). False, its error
// line written, when the server cannot be asked.
bool readSessions(std::vector<SessionOwner>& out);

}  // namespace linuxaudio
