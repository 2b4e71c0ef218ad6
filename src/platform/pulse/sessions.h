// The audio sessions of a Pulse-protocol server as the session enumeration
// shows them: one per process that has playback streams (sink-inputs), active
// while any of them is not corked.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pulse/connection.h"

namespace pulse {

struct PlaybackSession {
    std::uint32_t pid = 0;  // 0: streams whose process is not known
    bool active = false;
};

// Asks the server now. Not from the loop thread.
std::vector<PlaybackSession> readPlaybackSessions(Connection& connection);

}  // namespace pulse
