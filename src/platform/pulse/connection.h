// One connection to the audio server over the Pulse protocol (PulseAudio, or
// PipeWire through pipewire-pulse): libpulse's main loop (loop.h) and context.
// Callbacks run on whichever thread runs the loop, with the loop lock held;
// any other thread takes the lock (Lock) before touching the context or its
// streams.
#pragma once

#include <pulse/context.h>

#include "platform/pulse/loop.h"

namespace pulse {

class Connection {
public:
    // Connects to the server the environment names (PULSE_SERVER, else the
    // user's runtime dir), never starting one, and on success, when asked to
    // announce it, prints the one line "info: audio server <name> <version>".
    // nullptr: no server answered.
    static Connection* open(bool announce = true);

    // Disconnects and stops the loop. Never from a callback.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pa_context* context() const { return context_; }
    Loop& loop() const { return *loop_; }

    // Called on a loop callback, lock held, when the connection is lost after
    // it was made. Set and cleared with the lock held.
    void onLost(void (*callback)(void*), void* data) {
        lostCallback_ = callback;
        lostData_ = data;
    }

    class Lock {
    public:
        explicit Lock(const Connection& c) : loop_(c.loop_) { loop_->lock(); }
        ~Lock() { loop_->unlock(); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        Loop* loop_;
    };

private:
    Connection() = default;
    static void stateChanged(pa_context* context, void* self);

    Loop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
    void (*lostCallback_)(void*) = nullptr;
    void* lostData_ = nullptr;
};

}  // namespace pulse
