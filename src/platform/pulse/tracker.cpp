#include "platform/pulse/tracker.h"

#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/subscribe.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstdlib>

#include "platform/pulse/proc_tree.h"

namespace pulse {

namespace {

// The fragment asked of each monitor stream. Without one pipewire-pulse hands
// out 2 s fragments.
constexpr pa_usec_t kFragmentUsec = 10000;
// What each stream may hold before the mix takes it: ample for its start
// level and jitter (the level trims itself far below this).
constexpr std::uint32_t kStreamBufferMs = 250;

// The speaker order Windows uses for each channel count (the order of the
// WAVEFORMATEXTENSIBLE channel-mask bits), so that the server converts into
// the layout the program's readers expect.
// https://learn.microsoft.com/windows-hardware/drivers/audio/channel-mask
void windowsChannelOrder(pa_channel_map& map, std::uint32_t channels) {
    static constexpr pa_channel_position_t kLayouts[8][8] = {
        {PA_CHANNEL_POSITION_MONO},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_REAR_LEFT,
         PA_CHANNEL_POSITION_REAR_RIGHT},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
         PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
         PA_CHANNEL_POSITION_LFE, PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
         PA_CHANNEL_POSITION_LFE, PA_CHANNEL_POSITION_REAR_CENTER, PA_CHANNEL_POSITION_SIDE_LEFT,
         PA_CHANNEL_POSITION_SIDE_RIGHT},
        {PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER,
         PA_CHANNEL_POSITION_LFE, PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT,
         PA_CHANNEL_POSITION_SIDE_LEFT, PA_CHANNEL_POSITION_SIDE_RIGHT},
    };
    pa_channel_map_init(&map);
    map.channels = static_cast<std::uint8_t>(channels);
    for (std::uint32_t i = 0; i < channels; ++i) map.map[i] = kLayouts[channels - 1][i];
}

void forget(pa_operation* operation) {
    if (operation != nullptr) pa_operation_unref(operation);
}

}  // namespace

std::uint32_t processIdOf(const pa_proplist* properties) {
    const char* text = properties != nullptr ? pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
    if (text == nullptr) return 0;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && pid <= UINT32_MAX ? static_cast<std::uint32_t>(pid) : 0;
}

Tracker::Tracker(Connection& connection, const Target& target, std::uint32_t rate, std::uint32_t channels,
                 std::uint32_t period, Output& output)
    : connection_(connection), target_(target), rate_(rate), channels_(channels), period_(period), output_(output) {}

Tracker::~Tracker() = default;

void Tracker::start() {
    running_ = true;
    pa_context* c = connection_.context();
    pa_context_set_subscribe_callback(c, onEvent, this);
    forget(pa_context_subscribe(
        c,
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT |
                                            PA_SUBSCRIPTION_MASK_SINK),
        nullptr, nullptr));
    rescanTree();
    // Replies come in order: every client's pid and every sink's monitor are
    // known before the streams.
    forget(pa_context_get_sink_info_list(c, onSink, this));
    forget(pa_context_get_client_info_list(c, onClient, this));
    forget(pa_context_get_sink_input_info_list(c, onSinkInput, this));
    startUsec_ = pa_rtclock_now();
    packets_ = 0;
    timer_ = pa_context_rttime_new(c, PA_USEC_INVALID, onTick, this);
    timerArmed_ = false;
}

void Tracker::stop() {
    if (!running_) return;
    running_ = false;
    pa_context_set_subscribe_callback(connection_.context(), nullptr, nullptr);
    if (timer_ != nullptr) {
        connection_.loop().api()->time_free(timer_);
        timer_ = nullptr;
    }
    for (auto& entry : sinkInputs_) closeMonitor(*entry.second);
    sinkInputs_.clear();
    clientPids_.clear();
    sinkMonitors_.clear();
}

void Tracker::rescanTree() { tree_ = processTree(readAllProcesses(), target_.pid, target_.startTime); }

void Tracker::querySinkInput(std::uint32_t index) {
    forget(pa_context_get_sink_input_info(connection_.context(), index, onSinkInput, this));
}

void Tracker::queryClient(std::uint32_t index) {
    forget(pa_context_get_client_info(connection_.context(), index, onClient, this));
}

void Tracker::querySink(std::uint32_t index) {
    forget(pa_context_get_sink_info_by_index(connection_.context(), index, onSink, this));
}

void Tracker::onEvent(pa_context* /*c*/, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
    auto* t = static_cast<Tracker*>(self);
    if (!t->running_) return;
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_CLIENT) {
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
            t->clientPids_.erase(index);
        } else {
            t->queryClient(index);
        }
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) t->sinkMonitors_.erase(index);
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
    // An ended, paused or moved stream may leave frames to play out.
    t->armTimer(true);
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        const auto found = t->sinkInputs_.find(index);
        if (found == t->sinkInputs_.end()) return;
        SinkInput& s = *found->second;
        s.removed = true;
        s.fifo.finish();  // what it delivered still plays out; the sweep forgets it
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_NEW) t->rescanTree();
    t->querySinkInput(index);
}

void Tracker::onClient(pa_context* /*c*/, const pa_client_info* info, int eol, void* self) {
    auto* t = static_cast<Tracker*>(self);
    if (eol != 0 || info == nullptr || !t->running_) return;
    const std::uint32_t pid = processIdOf(info->proplist);
    t->clientPids_[info->index] = pid;
    for (auto& entry : t->sinkInputs_) {
        SinkInput& s = *entry.second;
        if (s.awaitingClient && s.client == info->index) {
            s.awaitingClient = false;
            t->decide(s, pid);
        }
    }
}

void Tracker::onSink(pa_context* /*c*/, const pa_sink_info* info, int eol, void* self) {
    auto* t = static_cast<Tracker*>(self);
    if (eol != 0 || info == nullptr || !t->running_ || info->monitor_source_name == nullptr) return;
    t->sinkMonitors_[info->index] = info->monitor_source_name;
    for (auto& entry : t->sinkInputs_) {
        SinkInput& s = *entry.second;
        if (s.awaitedSink != info->index) continue;
        s.awaitedSink = PA_INVALID_INDEX;
        if (s.sink == info->index && !s.removed && s.monitor == nullptr) t->openMonitor(s);
    }
}

void Tracker::onSinkInput(pa_context* /*c*/, const pa_sink_input_info* info, int eol, void* self) {
    auto* t = static_cast<Tracker*>(self);
    if (eol != 0 || info == nullptr || !t->running_) return;
    std::unique_ptr<SinkInput>& slot = t->sinkInputs_[info->index];
    if (!slot) {
        slot.reset(new SinkInput);
        slot->owner = t;
        slot->index = info->index;
    }
    SinkInput& s = *slot;
    if (s.removed) return;
    s.client = info->client;
    s.sink = info->sink;
    std::uint32_t pid = processIdOf(info->proplist);
    if (pid == 0 && info->client != PA_INVALID_INDEX) {
        const auto known = t->clientPids_.find(info->client);
        if (known == t->clientPids_.end()) {
            s.awaitingClient = true;
            t->queryClient(info->client);
            return;
        }
        pid = known->second;
    }
    t->decide(s, pid);
}

void Tracker::decide(SinkInput& s, std::uint32_t pid) {
    const bool ofTarget = pid != 0 && inTree(tree_, pid);
    const bool wanted = target_.includeTree ? ofTarget : !ofTarget;
    if (!wanted) {
        if (s.monitor != nullptr) closeMonitor(s);
        s.monitorFailed = false;
        s.awaitedSink = PA_INVALID_INDEX;
        return;
    }
    if (s.awaitedSink != PA_INVALID_INDEX && s.awaitedSink == s.sink) return;
    if (s.monitor == nullptr && !s.monitorFailed) {
        openMonitor(s);
    } else if (s.monitorFailed && s.sink != s.monitorSink) {
        closeMonitor(s);
        openMonitor(s);
    }
}

void Tracker::openMonitor(SinkInput& s) {
    // On PipeWire a new stream may not be on a sink yet; a change event follows.
    if (s.sink == PA_INVALID_INDEX) return;
    const auto source = sinkMonitors_.find(s.sink);
    if (source == sinkMonitors_.end()) {
        s.awaitedSink = s.sink;
        querySink(s.sink);
        return;
    }
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32LE;
    spec.rate = rate_;
    spec.channels = static_cast<std::uint8_t>(channels_);
    pa_channel_map map{};
    windowsChannelOrder(map, channels_);
    pa_stream* stream = pa_stream_new(connection_.context(), "procloop capture", &spec, &map);
    if (stream == nullptr) return;
    s.fifo.reset(rate_ * kStreamBufferMs / 1000, channels_, period_);
    s.monitorFailed = false;
    s.monitorSink = s.sink;
    s.monitor = stream;
    pa_stream_set_monitor_stream(stream, s.index);
    pa_stream_set_state_callback(stream, onMonitorState, &s);
    pa_stream_set_read_callback(stream, onMonitorRead, &s);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source->second.c_str(), &attr, flags) < 0) {
        closeMonitor(s);
        s.monitorFailed = true;
    }
}

void Tracker::closeMonitor(SinkInput& s) {
    if (s.monitor == nullptr) return;
    pa_stream_set_state_callback(s.monitor, nullptr, nullptr);
    pa_stream_set_read_callback(s.monitor, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(s.monitor))) pa_stream_disconnect(s.monitor);
    pa_stream_unref(s.monitor);
    s.monitor = nullptr;
}

void Tracker::onMonitorState(pa_stream* stream, void* entry) {
    auto* s = static_cast<SinkInput*>(entry);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state != PA_STREAM_FAILED && state != PA_STREAM_TERMINATED) return;
    // Dropped quietly; its last frames still play out. The stream may have
    // been moved to another sink, which PulseAudio answers by killing the
    // monitor: ask again where it is.
    s->monitorFailed = true;
    s->fifo.finish();
    if (!s->owner->running_) return;
    s->owner->armTimer(true);
    if (!s->removed) s->owner->querySinkInput(s->index);
}

void Tracker::onMonitorRead(pa_stream* stream, std::size_t bytes, void* entry) {
    auto* s = static_cast<SinkInput*>(entry);
    const std::size_t frameBytes = static_cast<std::size_t>(s->owner->channels_) * sizeof(float);
    // bytes is what the stream holds: once that much is taken no peek is needed
    // to find it empty (each libpulse call costs a getpid system call).
    for (std::size_t taken = 0; taken < bytes;) {
        const void* data = nullptr;
        std::size_t length = 0;
        if (pa_stream_peek(stream, &data, &length) < 0 || length == 0) break;
        // data == nullptr with a length is a hole: silence, keeping time.
        s->fifo.push(static_cast<const float*>(data), static_cast<std::uint32_t>(length / frameBytes));
        pa_stream_drop(stream);
        taken += length;
    }
    s->lastDelivery = pa_rtclock_now();
    s->owner->mixDue(s->lastDelivery);
}

std::uint64_t Tracker::dueTime(std::uint64_t packet) const {
    return startUsec_ + (packet + 1) * period_ * 1000000ull / rate_;
}

// Mixing follows the deliveries: each one mixes the periods that have come due
// by the clock, so a steady stream costs one wake-up per fragment. The timer
// only runs after a stream event (end, pause, move, failure) and while a
// stream that stopped delivering still holds frames to play out or a monitor
// is to be given back.
void Tracker::onTick(pa_mainloop_api* /*api*/, pa_time_event* /*e*/, const struct timeval* /*tv*/, void* self) {
    auto* t = static_cast<Tracker*>(self);
    t->timerArmed_ = false;
    if (!t->running_) return;
    const pa_usec_t now = pa_rtclock_now();
    for (auto& entry : t->sinkInputs_) {
        SinkInput& s = *entry.second;
        if (s.fifo.frames() > 0 && now - s.lastDelivery >= 2 * t->periodUsec()) s.fifo.stall();
    }
    t->mixDue(now);
    t->sweep();
    bool playingOut = false;
    for (const auto& entry : t->sinkInputs_) playingOut = playingOut || entry.second->fifo.playingOut();
    if (t->needsSweep() || playingOut) {
        t->armTimer(false);
    } else if (t->spareTicks_ > 0) {
        --t->spareTicks_;
        t->armTimer(false);
    }
}

void Tracker::armTimer(bool forEvent) {
    if (forEvent) spareTicks_ = 3;
    if (timerArmed_ || timer_ == nullptr) return;
    timerArmed_ = true;
    pa_context_rttime_restart(connection_.context(), timer_, dueTime(packets_) + periodUsec());
}

// Periods are counted against the clock, not against wake-ups: a late
// wake-up mixes every period it missed.
void Tracker::mixDue(pa_usec_t now) {
    while (dueTime(packets_) <= now) {
        if (!mixPeriod() && !holdsAudio()) {
            // Nothing plays or waits to: the silent stretch passes in one step.
            packets_ = (now - startUsec_) * rate_ / (static_cast<std::uint64_t>(period_) * 1000000ull);
            while (dueTime(packets_) <= now) ++packets_;
            return;
        }
        ++packets_;
    }
}

bool Tracker::holdsAudio() const {
    for (const auto& entry : sinkInputs_) {
        if (entry.second->fifo.frames() > 0) return true;
    }
    return false;
}

bool Tracker::needsSweep() const {
    for (const auto& entry : sinkInputs_) {
        const SinkInput& s = *entry.second;
        if (s.removed || (s.monitorFailed && s.monitor != nullptr)) return true;
    }
    return false;
}

bool Tracker::mixPeriod() {
    bool any = false;
    for (auto& entry : sinkInputs_) {
        SinkInput& s = *entry.second;
        s.playing = (s.monitor != nullptr || s.fifo.finished()) && s.fifo.ready();
        any = any || s.playing;
    }
    // Nothing matching plays: no packet, as the Windows client gives none.
    if (!any) return false;
    float* slot = nullptr;
    {
        const std::lock_guard<std::mutex> lock(output_.mutex);
        slot = output_.ring.claim();
    }
    if (slot != nullptr) std::fill(slot, slot + static_cast<std::size_t>(period_) * channels_, 0.0f);
    for (auto& entry : sinkInputs_) {
        if (entry.second->playing) entry.second->fifo.take(slot);
    }
    if (slot == nullptr) return true;
    PacketInfo info;
    info.frames = period_;
    info.devicePosition = packets_ * period_;
    // The period this packet stands for, on CLOCK_MONOTONIC (pa_rtclock), in 100 ns units.
    info.qpcPosition = (startUsec_ + packets_ * period_ * 1000000ull / rate_) * 10;
    HANDLE event = nullptr;
    {
        const std::lock_guard<std::mutex> lock(output_.mutex);
        output_.ring.commit(info);
        event = output_.event;
    }
    if (event != nullptr) SetEvent(event);
    return true;
}

// Streams that ended and have played out are forgotten; failed monitors that
// have played out give back their server objects.
void Tracker::sweep() {
    for (auto it = sinkInputs_.begin(); it != sinkInputs_.end();) {
        SinkInput& s = *it->second;
        const bool drained = s.fifo.frames() == 0;
        if (drained && s.monitorFailed && s.monitor != nullptr) closeMonitor(s);
        if (s.removed && drained && (s.monitor == nullptr || s.monitorFailed)) {
            closeMonitor(s);
            it = sinkInputs_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace pulse
