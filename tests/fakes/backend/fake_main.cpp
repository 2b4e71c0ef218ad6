// procloop_fake: the whole program on the fake backend, in real time, with the
// real Linux backend answering for the console, processes and windows. Its
// script comes from FAKE_BACKEND_SCRIPT; without one it captures the tone.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/run_sequence.h"
#include "fakes/backend/fake_backend.h"
#include "linux/linux_backend.h"

int main(int argc, char** argv) {
    fakebackend::Script script;
    script.end = fakebackend::Script::End::Tone;
    const char* text = std::getenv("FAKE_BACKEND_SCRIPT");
    if (text != nullptr && !fakebackend::parseScript(text, script)) {
        std::fprintf(stderr, "bad FAKE_BACKEND_SCRIPT: %s\n", text);
        return 125;
    }
    fakebackend::FakeBackend backend(script, newLinuxBackend(), true);
    return runSequence(backend, argc, argv);
}
