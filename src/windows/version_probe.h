#pragma once

// Reports the Windows build, and warns when it predates process-loopback
// capture. Silent when the build cannot be read; never stops the run.
void probeWindowsVersion();
