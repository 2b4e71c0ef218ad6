// One connection to the audio server over the Pulse protocol (PulseAudio, or
// PipeWire through pipewire-pulse) on libpulse's own main loop, which the
// thread that uses the connection runs: there is no other thread.
// https://freedesktop.org/software/pulseaudio/doxygen/mainloop_8h.html
#pragma once

#include <memory>

#include "linux/pulse_symbols.h"

namespace linuxaudio {

class PulseConnection {
public:
    // Connects to the server the environment names (PULSE_SERVER, else the
    // user's runtime directory), never starting one. Null, its error line
    // written, when that fails.
    static std::unique_ptr<PulseConnection> open();
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }
    bool good() const { return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) != 0; }

    // Runs the loop until `operation` is done (false: it could not be, or the
    // connection failed meanwhile). Unrefs it.
    bool await(pa_operation* operation);

    // The line "info: audio server <name> <version>"; false, its error line written, when not told.
    bool announce();

    // Writes "<prefix>: <libpulse's reason for the context's last error>\n" to standard error.
    void sayFailure(const char* prefix) const;

    // Why the connection failed, as libpulse said when it did (later calls
    // on the dead context would only add "Bad state").
    int lostError() const { return lostError_; }

private:
    PulseConnection() = default;
    static void onState(pa_context* context, void* self);

    int lostError_ = 0;

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace linuxaudio
