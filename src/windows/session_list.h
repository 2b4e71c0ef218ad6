#pragma once

#include <vector>

#include "capture/backend.h"

// The owners of the audio sessions on the active playback devices, under COM
// of its own. False, with the failed call's line written, when the platform cannot tell.
bool listAudioSessions(std::vector<SessionOwner>& out);
