// Inside the test-only mmdevapi.dll: the scripted fake of the Windows audio
// service (process-loopback activation, the audio and capture clients, the
// session enumeration) and its journal. Its script comes from
// STANDIN_ENGINE_SCRIPT; with STANDIN_ENGINE_JOURNAL naming a file, every call
// the program makes to it, and the program's own calls to the system that the
// DLL sees through the program's import table (system_calls.cpp), are appended
// there one line each as they happen.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "fakes/wasapi/script.h"
#include "windows/windows_sdk.h"

namespace fakewasapi {

// The process's script, read once.
const Script& script();

// Counts the call, records `entry` if given, and returns the script's status for it (S_OK: none).
HRESULT scripted(Call call, const char* entry = nullptr);

// Appends one line to the journal.
void record(const std::string& entry);

// The service's objects the program holds a reference to (the sessions' uncounted).
extern std::atomic<int> programHeld;

// Waits while a completion is being delivered: the handler, and through it the
// client, are the platform's to let go of until it returns.
void settle();

// Routes the program's calls to the system named in system_calls.cpp through the DLL first.
void hookSystemCalls();

}  // namespace fakewasapi
