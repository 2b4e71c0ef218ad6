#include "linux/monitor.h"

#include "linux/pulse_symbols.h"

namespace linuxaudio {

namespace {

// The fragment asked for. Without one pipewire-pulse hands out 2 s fragments.
constexpr pa_usec_t kFragmentUsec = 10000;

// The speaker order Windows uses for each channel count (the order of the
// WAVEFORMATEXTENSIBLE channel-mask bits), so that the server converts into
// the layout the program's readers expect.
// https://learn.microsoft.com/windows-hardware/drivers/audio/channel-mask
void windowsChannelOrder(pa_channel_map& map, std::uint32_t channels) {
    constexpr pa_channel_position_t FL = PA_CHANNEL_POSITION_FRONT_LEFT, FR = PA_CHANNEL_POSITION_FRONT_RIGHT,
                                    FC = PA_CHANNEL_POSITION_FRONT_CENTER, LFE = PA_CHANNEL_POSITION_LFE,
                                    RL = PA_CHANNEL_POSITION_REAR_LEFT, RR = PA_CHANNEL_POSITION_REAR_RIGHT,
                                    RC = PA_CHANNEL_POSITION_REAR_CENTER, SL = PA_CHANNEL_POSITION_SIDE_LEFT,
                                    SR = PA_CHANNEL_POSITION_SIDE_RIGHT;
    static constexpr pa_channel_position_t kLayouts[8][8] = {
        {PA_CHANNEL_POSITION_MONO}, {FL, FR}, {FL, FR, FC}, {FL, FR, RL, RR}, {FL, FR, FC, RL, RR},
        {FL, FR, FC, LFE, RL, RR},  {FL, FR, FC, LFE, RC, SL, SR}, {FL, FR, FC, LFE, RL, RR, SL, SR},
    };
    pa_channel_map_init(&map);
    map.channels = static_cast<std::uint8_t>(channels);
    for (std::uint32_t i = 0; i < channels; ++i) map.map[i] = kLayouts[channels - 1][i];
}

}  // namespace

bool Monitor::open(pa_context* context, std::uint32_t sinkInput, std::uint32_t sink, const char* source,
                   const pa_sample_spec& spec, StreamFifo& fifo, Listener& listener) {
    close();
    pa_channel_map map;
    windowsChannelOrder(map, spec.channels);
    pa_stream* stream = pa_stream_new(context, "procloop capture", &spec, &map);
    if (stream == nullptr) return false;
    stream_ = stream;
    sinkInput_ = sinkInput;
    sink_ = sink;
    frameBytes_ = static_cast<std::uint32_t>(pa_frame_size(&spec));
    fifo_ = &fifo;
    listener_ = &listener;
    pa_stream_set_monitor_stream(stream, sinkInput);
    pa_stream_set_state_callback(stream, onState, this);
    pa_stream_set_read_callback(stream, onRead, this);
    pa_buffer_attr attr{};
    attr.maxlength = attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source, &attr, flags) < 0) {
        close();
        return false;
    }
    state_ = State::Connecting;
    fifo.resume();
    return true;
}

void Monitor::close() {
    if (stream_ == nullptr) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
    state_ = State::Closed;
}

void Monitor::onState(pa_stream* stream, void* self) {
    auto* m = static_cast<Monitor*>(self);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            m->state_ = State::Recording;
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const bool recorded = m->state_ == State::Recording;
            const int error = pa_context_errno(pa_stream_get_context(stream));
            m->state_ = State::Failed;
            // What it delivered still plays out.
            m->fifo_->finish();
            const bool gone = error == PA_ERR_KILLED || error == PA_ERR_NOENTITY;
            m->listener_->monitorFailed(m->sinkInput_, !recorded && !gone, error);
            break;
        }
        default:
            break;
    }
}

void Monitor::onRead(pa_stream* stream, std::size_t bytes, void* self) {
    auto* m = static_cast<Monitor*>(self);
    const pa_usec_t now = pa_rtclock_now();
    // `bytes` is what the stream holds: once that much is taken no peek is
    // needed to find it empty (every libpulse call checks for a fork with getpid).
    for (std::size_t taken = 0; taken < bytes;) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) break;
        // data == nullptr with a length is a hole: silence, keeping time.
        m->fifo_->push(static_cast<const float*>(data), static_cast<std::uint32_t>(length / m->frameBytes_), now);
        pa_stream_drop(stream);
        taken += length;
    }
}

}  // namespace linuxaudio
