#pragma once

// The whole run on the main thread; returns the process exit code.
int runSequence(int argc, const char* const* argv);
