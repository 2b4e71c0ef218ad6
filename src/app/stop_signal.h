#pragma once

#include <atomic>

// Set once by the backend when the console asks the run to stop, read by the
// capture loop. Nothing else is published with it, so plain atomic loads and
// stores suffice.
extern std::atomic<bool> stopRequested;
