// Test-only player for what the Debian players cannot do: pause (cork) a
// stream, and many streams from one process (which keeps a 2-core machine from
// starving). `cork_player <name> [streams] [first-hz] [step-hz] [sink,...]`:
// stream i, named <name>, plays first + i * step Hz (default one stream of
// 440 Hz) at amplitude 0.25 / streams, 48 kHz stereo float, on the sinks in
// turn (default: the default sink); SIGUSR1 corks them, SIGUSR2 resumes them.
// Plays until killed.
#include <pulse/mainloop-signal.h>
#include <pulse/pulseaudio.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Tone {
    pa_stream* stream = nullptr;
    double step = 0, phase = 0;
};
std::vector<Tone> tones;
const char* name;
double amplitude;
std::vector<std::string> sinks;

void cork(int corked) {
    for (Tone& t : tones)
        if (t.stream != nullptr) pa_operation_unref(pa_stream_cork(t.stream, corked, nullptr, nullptr));
}

void onWrite(pa_stream* s, size_t bytes, void* tone) {
    auto& t = *static_cast<Tone*>(tone);
    void* data = nullptr;
    if (pa_stream_begin_write(s, &data, &bytes) < 0) return;
    auto* out = static_cast<float*>(data);
    for (size_t i = 0; i + 1 < bytes / sizeof(float); i += 2, t.phase = std::fmod(t.phase + t.step, 2 * M_PI))
        out[i] = out[i + 1] = static_cast<float>(amplitude * std::sin(t.phase));
    pa_stream_write(s, data, bytes / 8 * 8, nullptr, 0, PA_SEEK_RELATIVE);
}

// Opens the next stream 20 ms after the one before plays.
void next(pa_context* c) {
    static size_t opened = 0;
    if (opened == tones.size()) return;
    const size_t i = opened++;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    // A short buffer, so that corking takes effect promptly.
    const pa_buffer_attr attr{UINT32_MAX, static_cast<uint32_t>(pa_usec_to_bytes(50000, &spec)), UINT32_MAX,
                              UINT32_MAX, UINT32_MAX};
    Tone& t = tones[i];
    t.stream = pa_stream_new(c, name, &spec, nullptr);
    pa_stream_set_write_callback(t.stream, onWrite, &t);
    pa_stream_set_state_callback(t.stream, [](pa_stream* s, void*) {
        if (pa_stream_get_state(s) != PA_STREAM_READY) return;
        pa_context* c = pa_stream_get_context(s);
        pa_context_rttime_new(c, pa_rtclock_now() + 20000, [](pa_mainloop_api* api, pa_time_event* e, const timeval*, void* c) {
            api->time_free(e);
            next(static_cast<pa_context*>(c));
        }, c);
    }, nullptr);
    const char* sink = sinks.empty() ? nullptr : sinks[i % sinks.size()].c_str();
    pa_stream_connect_playback(t.stream, sink, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    name = argc > 1 ? argv[1] : argv[0];
    tones.resize(argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1);
    const double first = argc > 3 ? std::atof(argv[3]) : 440, step = argc > 4 ? std::atof(argv[4]) : 0;
    amplitude = 0.25 / static_cast<double>(tones.size());
    std::istringstream sinkList(argc > 5 ? argv[5] : "");
    for (std::string sink; std::getline(sinkList, sink, ',');) sinks.push_back(sink);
    for (size_t i = 0; i < tones.size(); ++i) tones[i].step = 2 * M_PI * (first + step * static_cast<double>(i)) / 48000;
    pa_mainloop* loop = pa_mainloop_new();
    pa_mainloop_api* api = pa_mainloop_get_api(loop);
    pa_signal_init(api);
    pa_signal_new(SIGUSR1, [](pa_mainloop_api*, pa_signal_event*, int, void*) { cork(1); }, nullptr);
    pa_signal_new(SIGUSR2, [](pa_mainloop_api*, pa_signal_event*, int, void*) { cork(0); }, nullptr);
    pa_context* context = pa_context_new(api, "cork_player");
    // One stream 20 ms after the other: a burst of new streams overwhelms WirePlumber 0.4, which then links some never.
    pa_context_set_state_callback(context, [](pa_context* c, void*) {
        if (pa_context_get_state(c) == PA_CONTEXT_READY) next(c);
    }, nullptr);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 1;
    int result = 1;
    pa_mainloop_run(loop, &result);
    return result;
}
