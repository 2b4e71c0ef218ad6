// Test-only player for what the Debian players cannot do: pause (cork) a stream.
// Plays 440 Hz at amplitude 0.25, 48 kHz stereo float, as a stream named
// argv[1]; SIGUSR1 corks it, SIGUSR2 resumes it. Plays until killed.
#include <pulse/mainloop-signal.h>
#include <pulse/pulseaudio.h>

#include <cmath>
#include <csignal>

namespace {

pa_stream* stream;
double phase;

void cork(int corked) { pa_operation_unref(pa_stream_cork(stream, corked, nullptr, nullptr)); }

void onWrite(pa_stream* s, size_t bytes, void*) {
    void* data = nullptr;
    if (pa_stream_begin_write(s, &data, &bytes) < 0) return;
    auto* out = static_cast<float*>(data);
    for (size_t i = 0; i + 1 < bytes / sizeof(float); i += 2, phase += 2 * M_PI * 440 / 48000)
        out[i] = out[i + 1] = static_cast<float>(0.25 * std::sin(phase));
    pa_stream_write(s, data, bytes / 8 * 8, nullptr, 0, PA_SEEK_RELATIVE);
}

}  // namespace

int main(int argc, char** argv) {
    pa_mainloop* loop = pa_mainloop_new();
    pa_mainloop_api* api = pa_mainloop_get_api(loop);
    pa_signal_init(api);
    pa_signal_new(SIGUSR1, [](pa_mainloop_api*, pa_signal_event*, int, void*) { cork(1); }, nullptr);
    pa_signal_new(SIGUSR2, [](pa_mainloop_api*, pa_signal_event*, int, void*) { cork(0); }, nullptr);
    pa_context* context = pa_context_new(api, "cork_player");
    pa_context_set_state_callback(context, [](pa_context* c, void* name) {
        if (pa_context_get_state(c) != PA_CONTEXT_READY) return;
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
        // A short buffer, so that corking takes effect promptly.
        const pa_buffer_attr attr{UINT32_MAX, static_cast<uint32_t>(pa_usec_to_bytes(50000, &spec)), UINT32_MAX,
                                  UINT32_MAX, UINT32_MAX};
        stream = pa_stream_new(c, static_cast<const char*>(name), &spec, nullptr);
        pa_stream_set_write_callback(stream, onWrite, nullptr);
        pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
    }, argc > 1 ? argv[1] : argv[0]);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 1;
    int result = 1;
    pa_mainloop_run(loop, &result);
    return result;
}
