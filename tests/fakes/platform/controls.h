// Test controls of the host platform. Test binaries are linked with
// -Wl,--wrap=<function> for the POSIX layer's calls listed in
// tests/fakes/CMakeLists.txt, so each call passes through here first: what the
// host looks like (ntdll) and which calls fail, as the fake audio service's
// script says (Script::Host), where standard output goes, and a journal of what
// the program asked for. With nothing set, every call goes straight through.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "platform/platform.h"

namespace fakeplatform {

struct Controls {
    // Set by tests. In-process, standard output is kept here rather than
    // written, shaped by the script's write= and output= (fake_audio.h).
    bool captureOutput = false;
    std::vector<unsigned char> output;
    // Runs before each wait with its number (1-based, since reset) and its time-out.
    std::function<void(unsigned nth, DWORD ms)> onWait;

    // Seen by the controls.
    PHANDLER_ROUTINE handler = nullptr;  // registered since reset
    std::uint64_t writeCalls = 0;
    unsigned createEventCalls = 0;  // each event is known by the number of the call that made it
    unsigned waitCalls = 0;
    DWORD lastWaitResult = WAIT_FAILED;
    int comDepth = 0;  // successful CoInitializeEx calls not yet balanced
    std::map<HANDLE, unsigned> openEvents;
};

Controls& controls();
void reset();  // nothing set, nothing seen

// Runs the handler registered since reset as the console does, on a thread of
// its own; whether it took the event (false when there is none).
bool raiseConsoleControl(DWORD ctrlType);

}  // namespace fakeplatform
