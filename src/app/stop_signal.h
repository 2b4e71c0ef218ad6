#pragma once

#include <atomic>

#include "platform/platform.h"

// Set once by the console control handler, read by the capture loop. Nothing
// else is published with it, so plain atomic loads and stores suffice.
extern std::atomic<bool> stopRequested;

// Registered with SetConsoleCtrlHandler; runs on a thread of the platform's.
BOOL WINAPI onConsoleControl(DWORD ctrlType);
