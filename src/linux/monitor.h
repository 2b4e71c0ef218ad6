// One captured stream's monitor: a record stream of one sink-input on its
// sink's monitor source, which the server converts to the capture's format,
// with its explicit state. PulseAudio records a monitor only from the sink's
// monitor source. PA_STREAM_DONT_MOVE: on PipeWire a monitor whose sink-input
// ends is otherwise moved to the default source, the whole mix; with it the
// monitor fails then, as it always does on PulseAudio (which also fails it
// when the sink-input moves to another sink).
// https://freedesktop.org/software/pulseaudio/doxygen/stream_8h.html
#pragma once

#include <pulse/context.h>
#include <pulse/stream.h>

#include <cstdint>

#include "linux/stream_fifo.h"

namespace linuxaudio {

class Monitor {
public:
    enum class State {
        Closed,      // no server stream
        Connecting,  // asked for, not recording yet
        Recording,   // delivering into the FIFO
        Failed,      // the server ended it (the sink-input ended or moved) or refused it
    };

    // Told on the loop's thread when a monitor fails; `refused` when it never
    // recorded and the server gave a reason other than the stream's end or move.
    class Listener {
    public:
        virtual void monitorFailed(std::uint32_t sinkInput, bool refused, int error) = 0;

    protected:
        ~Listener() = default;
    };

    Monitor() = default;
    ~Monitor() { close(); }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Records sink-input `sinkInput`, which plays on `sink` whose monitor
    // source is `source`, into `fifo`. False, with the context's error, when
    // the stream cannot even be asked for.
    bool open(pa_context* context, std::uint32_t sinkInput, std::uint32_t sink, const char* source,
              const pa_sample_spec& spec, StreamFifo& fifo, Listener& listener);
    // Gives the server stream back; Closed.
    void close();

    State state() const { return state_; }
    std::uint32_t sink() const { return sink_; }

private:
    static void onState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);

    pa_stream* stream_ = nullptr;
    State state_ = State::Closed;
    std::uint32_t sinkInput_ = 0;
    std::uint32_t sink_ = 0;
    std::uint32_t frameBytes_ = 0;
    StreamFifo* fifo_ = nullptr;
    Listener* listener_ = nullptr;
};

}  // namespace linuxaudio
