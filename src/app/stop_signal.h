#pragma once

#include <atomic>

#include "platform/platform.h"

// Set once by the console control handler, read by the capture loop. Nothing
// else is published with it, so plain atomic loads and stores suffice.
extern std::atomic<bool> stopRequested;

// Registered with SetConsoleCtrlHandler; runs on a thread of the platform's.
BOOL WINAPI onConsoleControl(DWORD ctrlType);

// Takes the calling thread as the one that writes the samples: a stop request
// then also cancels a write of its that blocks, on a reader that no longer reads.
void cancelWritesOnStop();
