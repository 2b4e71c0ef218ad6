#include "linux/stream_set.h"

#include <cstdio>

#include "linux/procfs.h"
#include "linux/pulse_symbols.h"

namespace linuxaudio {

namespace {

// What each stream may hold: a reader that stalls the capture for longer
// loses the oldest audio, as the Windows engine's 200 ms buffer does.
constexpr std::uint32_t kStreamBufferMs = 200;

void forget(pa_operation* operation) {
    if (operation != nullptr) pa_operation_unref(operation);
}

void ownSecPid(pa_context* /*c*/, const pa_client_info* info, int eol, void* pid) {
    if (eol == 0 && info != nullptr) *static_cast<std::uint32_t*>(pid) = clientFacts(info->proplist).secPid;
}

}  // namespace

ClientFacts clientFacts(const pa_proplist* properties) {
    ClientFacts facts;
    facts.pid = pidFromText(pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID));
    facts.secPid = pidFromText(pa_proplist_gets(properties, "pipewire.sec.pid"));
    return facts;
}

std::uint32_t streamPid(const pa_proplist* properties) {
    return pidFromText(pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID));
}

bool readBridgePid(PulseConnection& connection, std::uint32_t& pid) {
    pid = 0;
    pa_context* c = connection.context();
    return connection.await(pa_context_get_client_info(c, pa_context_get_index(c), ownSecPid, &pid));
}

StreamSet::StreamSet(PulseConnection& connection, std::uint32_t target, bool includeTree, std::uint32_t rate,
                     std::uint32_t channels)
    : connection_(connection), target_(target), includeTree_(includeTree) {
    spec_.format = PA_SAMPLE_FLOAT32LE;
    spec_.rate = rate;
    spec_.channels = static_cast<std::uint8_t>(channels);
    // The target as it is now: a process that later takes over its pid is not it.
    ProcStat stat;
    if (readProcStat(target, stat)) targetStart_ = stat.startTime;
}

StreamSet::~StreamSet() {
    running_ = false;
    pa_context_set_subscribe_callback(connection_.context(), nullptr, nullptr);
    streams_.clear();  // each monitor gives its server stream back
}

bool StreamSet::start() {
    pa_context* c = connection_.context();
    running_ = true;
    rescanTree();
    pa_context_set_subscribe_callback(c, onEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                                          PA_SUBSCRIPTION_MASK_CLIENT | PA_SUBSCRIPTION_MASK_SINK);
    // Replies come in order: every client's facts and sink's monitor are known before the streams.
    if (!readBridgePid(connection_, bridgePid_) || !connection_.await(pa_context_subscribe(c, mask, nullptr, nullptr)) ||
        !connection_.await(pa_context_get_sink_info_list(c, onSink, this)) ||
        !connection_.await(pa_context_get_client_info_list(c, onClient, this)) ||
        !connection_.await(pa_context_get_sink_input_info_list(c, onSinkInput, this))) {
        connection_.sayFailure("error: cannot list the audio server's playback streams");
        return false;
    }
    return true;
}

void StreamSet::rescanTree() {
    std::vector<ProcStat> all;
    readAllProcesses(all);
    tree_ = processTree(all, target_, targetStart_);
}

void StreamSet::onEvent(pa_context* c, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
    auto* set = static_cast<StreamSet*>(self);
    if (!set->running_) return;
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
    const bool added = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_NEW;
    if (facility == PA_SUBSCRIPTION_EVENT_CLIENT) {
        // A Pulse client may change what it says it is.
        if (removed) {
            set->clients_.erase(index);
        } else {
            forget(pa_context_get_client_info(c, index, onClient, self));
        }
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (removed) set->sinkMonitors_.erase(index);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        const auto found = set->streams_.find(index);
        if (removed) {
            if (found == set->streams_.end()) return;
            found->second->removed = true;
            found->second->fifo.finish();  // what it delivered still plays out
            set->sweepNeeded_ = true;
            return;
        }
        if (added) set->rescanTree();
        forget(pa_context_get_sink_input_info(c, index, onSinkInput, self));
    }
}

void StreamSet::onClient(pa_context* /*c*/, const pa_client_info* info, int eol, void* self) {
    auto* set = static_cast<StreamSet*>(self);
    if (eol != 0 || info == nullptr || !set->running_) return;
    set->clients_[info->index] = clientFacts(info->proplist);
    for (auto& entry : set->streams_) {
        Stream& s = *entry.second;
        if (s.client != info->index) continue;
        s.knowsClient = true;
        set->decide(s);
    }
}

void StreamSet::onSink(pa_context* /*c*/, const pa_sink_info* info, int eol, void* self) {
    auto* set = static_cast<StreamSet*>(self);
    if (eol != 0 || info == nullptr || !set->running_ || info->monitor_source_name == nullptr) return;
    const bool known = set->sinkMonitors_.count(info->index) != 0;
    set->sinkMonitors_[info->index] = info->monitor_source_name;
    if (known) return;
    for (auto& entry : set->streams_) {
        if (entry.second->sink == info->index) set->decide(*entry.second);
    }
}

void StreamSet::onSinkInput(pa_context* c, const pa_sink_input_info* info, int eol, void* self) {
    auto* set = static_cast<StreamSet*>(self);
    if (eol != 0 || info == nullptr || !set->running_) return;
    std::unique_ptr<Stream>& slot = set->streams_[info->index];
    if (!slot) {
        slot.reset(new Stream);
        slot->index = info->index;
    }
    Stream& s = *slot;
    if (s.removed) return;
    // Its monitor ended while it still plays on the same sink: the server
    // ended the recording, not the stream.
    if (s.failure != 0 && s.monitor.state() == Monitor::State::Failed && info->sink == s.monitor.sink())
        set->sayRefused(s, s.failure);
    s.failure = 0;
    s.sink = info->sink;
    s.streamPid = streamPid(info->proplist);
    if (s.client != info->client) s.knowsClient = false;
    s.client = info->client;
    if (!s.knowsClient && s.client != PA_INVALID_INDEX) {
        if (set->clients_.count(s.client) == 0) {
            forget(pa_context_get_client_info(c, s.client, onClient, self));
            return;
        }
        s.knowsClient = true;
    }
    set->decide(s);
}

void StreamSet::decide(Stream& s) {
    if (s.removed) return;
    StreamFacts facts;
    facts.streamPid = s.streamPid;
    facts.bridgePid = bridgePid_;
    const auto client = clients_.find(s.client);
    if (client != clients_.end()) {
        facts.clientPid = client->second.pid;
        facts.clientSecPid = client->second.secPid;
    }
    const Monitor::State state = s.monitor.state();
    s.owner = ownerOf(facts);
    if (!captured(tree_, includeTree_, s.owner)) {
        if (state != Monitor::State::Closed) {
            s.monitor.close();
            s.fifo.finish();
        }
        return;
    }
    // On PipeWire a monitor follows its stream to another sink; on PulseAudio it fails then.
    if (state == Monitor::State::Closed || (state == Monitor::State::Failed && s.sink != s.monitor.sink())) {
        openMonitor(s);
    }
}

void StreamSet::openMonitor(Stream& s) {
    // On PipeWire a new stream may not be on a sink yet; a change event follows.
    if (s.sink == PA_INVALID_INDEX) return;
    const auto source = sinkMonitors_.find(s.sink);
    if (source == sinkMonitors_.end()) {
        forget(pa_context_get_sink_info_by_index(connection_.context(), s.sink, onSink, this));
        return;
    }
    if (!s.fifoReady) {
        s.fifo.reset(spec_.rate * kStreamBufferMs / 1000, spec_.channels);
        s.fifoReady = true;
        rebuildInputs();
    }
    if (!s.monitor.open(connection_.context(), s.index, s.sink, source->second.c_str(), spec_, s.fifo, *this)) {
        sayRefused(s, pa_context_errno(connection_.context()));
    }
}

void StreamSet::sayRefused(const Stream& s, int error) {
    char line[200];
    std::snprintf(line, sizeof line, "warn: cannot record playback stream %u of process %u: %s\n",
                  static_cast<unsigned>(s.index), static_cast<unsigned>(s.owner), pa_strerror(error));
    lines_ += line;
}

void StreamSet::monitorFailed(std::uint32_t sinkInput, bool refused, int error) {
    sweepNeeded_ = true;
    const auto found = streams_.find(sinkInput);
    if (found == streams_.end() || found->second->removed || !connection_.good()) return;
    if (refused) return sayRefused(*found->second, error);
    // Ended, moved to another sink, or ended by the server while the stream
    // plays on: asking where it is tells which (onSinkInput).
    found->second->failure = error;
    forget(pa_context_get_sink_input_info(connection_.context(), sinkInput, onSinkInput, this));
}

void StreamSet::sweep() {
    if (!sweepNeeded_) return;
    sweepNeeded_ = false;
    bool changed = false;
    for (auto it = streams_.begin(); it != streams_.end();) {
        Stream& s = *it->second;
        const Monitor::State state = s.monitor.state();
        const bool drained = s.fifo.frames() == 0;
        if (s.removed && drained && state != Monitor::State::Recording && state != Monitor::State::Connecting) {
            it = streams_.erase(it);
            changed = true;
            continue;
        }
        // Still playing out: look again later.
        sweepNeeded_ = sweepNeeded_ || (!drained && (s.removed || state == Monitor::State::Failed));
        ++it;
    }
    if (changed) rebuildInputs();
}

void StreamSet::rebuildInputs() {
    inputs_.clear();
    for (auto& entry : streams_) {
        if (entry.second->fifoReady) inputs_.push_back(&entry.second->fifo);
    }
}

std::string StreamSet::takeLines() {
    std::string lines;
    lines.swap(lines_);
    return lines;
}

}  // namespace linuxaudio
