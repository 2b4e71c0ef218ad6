// Which playback streams (sink-inputs) are captured, their monitor streams,
// and the mixer that sums them into packets every period. Runs on the server
// connection's loop, on whichever thread runs it; start() and stop() are
// called with the loop lock.
//
// A stream's process is the sink-input's application.process.id, or its
// client's (native PipeWire streams carry it on the client only). Include mode
// takes every stream of the target's process tree, exclude mode every other
// stream. The tree is read again from /proc whenever a stream appears, so a
// child started during capture is followed.
//
// Each captured stream has its own monitor record stream on its sink's monitor
// source (PulseAudio refuses any other source), float32 at the
// capture format (the server converts), with PA_STREAM_DONT_MOVE: on PipeWire a
// monitor whose sink-input ends is otherwise moved to the default source, the
// whole mix. A monitor that fails is dropped; if its sink-input was moved to
// another sink (PulseAudio kills the monitor then) a new one follows it.
// https://freedesktop.org/software/pulseaudio/doxygen/stream_8h.html
#pragma once

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/sample.h>
#include <pulse/stream.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/pulse/connection.h"
#include "platform/pulse/output.h"
#include "platform/pulse/stream_fifo.h"

namespace pulse {

struct Target {
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;  // 0: the process was not found at activation
    bool includeTree = true;
};

// A sink-input's or client's application.process.id; 0 when it has none.
std::uint32_t processIdOf(const pa_proplist* properties);

class Tracker {
public:
    Tracker(Connection& connection, const Target& target, std::uint32_t rate, std::uint32_t channels,
            std::uint32_t period, Output& output);
    ~Tracker();  // call stop() first
    Tracker(const Tracker&) = delete;
    Tracker& operator=(const Tracker&) = delete;

    void start();
    void stop();

private:
    struct SinkInput {
        Tracker* owner = nullptr;
        std::uint32_t index = 0;
        std::uint32_t client = PA_INVALID_INDEX;
        std::uint32_t sink = PA_INVALID_INDEX;
        bool awaitingClient = false;
        std::uint32_t awaitedSink = PA_INVALID_INDEX;  // a sink whose monitor name was asked for
        bool removed = false;
        pa_stream* monitor = nullptr;
        std::uint32_t monitorSink = PA_INVALID_INDEX;  // where the monitor was opened
        bool monitorFailed = false;
        bool playing = false;  // in the period being mixed
        pa_usec_t lastDelivery = 0;
        StreamFifo fifo;
    };

    static void onEvent(pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* self);
    static void onSinkInput(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void onClient(pa_context* c, const pa_client_info* info, int eol, void* self);
    static void onSink(pa_context* c, const pa_sink_info* info, int eol, void* self);
    static void onMonitorState(pa_stream* s, void* entry);
    static void onMonitorRead(pa_stream* s, std::size_t bytes, void* entry);
    static void onTick(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);

    void rescanTree();
    void querySinkInput(std::uint32_t index);
    void queryClient(std::uint32_t index);
    void querySink(std::uint32_t index);
    void decide(SinkInput& s, std::uint32_t pid);
    void openMonitor(SinkInput& s);
    void closeMonitor(SinkInput& s);
    void mixDue(pa_usec_t now);
    bool mixPeriod();
    void sweep();
    void armTimer(bool forEvent);
    bool holdsAudio() const;
    bool needsSweep() const;
    std::uint64_t dueTime(std::uint64_t packet) const;
    pa_usec_t periodUsec() const { return static_cast<pa_usec_t>(period_) * 1000000ull / rate_; }

    Connection& connection_;
    Target target_;
    std::uint32_t rate_;
    std::uint32_t channels_;
    std::uint32_t period_;
    Output& output_;
    bool running_ = false;
    std::vector<std::uint32_t> tree_;
    std::map<std::uint32_t, std::unique_ptr<SinkInput>> sinkInputs_;
    std::map<std::uint32_t, std::uint32_t> clientPids_;  // client index -> pid (0: none given)
    std::map<std::uint32_t, std::string> sinkMonitors_;  // sink index -> its monitor source's name
    pa_time_event* timer_ = nullptr;
    bool timerArmed_ = false;
    unsigned spareTicks_ = 0;  // ticks after an event, until a pause shows
    std::uint64_t startUsec_ = 0;
    std::uint64_t packets_ = 0;  // periods since start, with or without a packet
};

}  // namespace pulse
