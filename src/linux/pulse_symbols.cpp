#include "linux/pulse_symbols.h"

#include "linux/shared_library.h"

namespace linuxaudio {

#define PROCLOOP_DEFINE(name) decltype(&::name) name = nullptr;
PROCLOOP_PULSE_FUNCTIONS(PROCLOOP_DEFINE)
#undef PROCLOOP_DEFINE

namespace {

std::string resolveAll() {
    SharedLibrary library("libpulse.so.0");
#define PROCLOOP_RESOLVE(name) library.resolve(name, #name);
    PROCLOOP_PULSE_FUNCTIONS(PROCLOOP_RESOLVE)
#undef PROCLOOP_RESOLVE
    return library.why();
}

}  // namespace

bool loadPulse(std::string& why) {
    // Opened once, by whichever thread connects first.
    static const std::string failure = resolveAll();
    why = failure;
    return failure.empty();
}

}  // namespace linuxaudio
