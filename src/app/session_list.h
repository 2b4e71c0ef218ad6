#pragma once

// --list: the processes with an audio session on an active playback device,
// as a table on standard output. Returns the exit code: 1, with the failed
// call's line, when the platform cannot tell.
int listSessions();
