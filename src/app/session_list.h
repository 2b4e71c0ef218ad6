#pragma once

#include "capture/backend.h"

// --list: the processes with an audio session on an active playback device,
// as a table on standard output. Returns the exit code: 1, with the failure's
// line, when the platform cannot tell.
int listSessions(CaptureBackend& backend);
