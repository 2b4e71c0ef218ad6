// Test-only player: plays sines at amplitude 0.25, 48 kHz stereo float, through
// the Pulse protocol, one playback stream per --freq, and prints each stream's
// sink-input index once it plays.
//
//   tone_player --freq 440 [--freq 550] [--seconds S] [--fork] [--delay MS]
//               [--cork-after MS --cork-for MS] [--sink NAME]
//
// Without --seconds it plays until killed. --fork: a child process plays, and
// the parent waits for it (the child dies with the parent).
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Tone {
    double hz;
    double phase;
    pa_stream* stream;
};

pa_mainloop* loop;
pa_context* context;
std::vector<Tone> tones;
double seconds = 0;
unsigned delayMs = 0, corkAfterMs = 0, corkForMs = 0;
const char* sink = nullptr;

void fail(const char* what) {
    std::fprintf(stderr, "tone_player: %s: %s\n", what, pa_strerror(pa_context_errno(context)));
    pa_mainloop_quit(loop, 1);
}

void onWrite(pa_stream* stream, size_t bytes, void* userdata) {
    auto* tone = static_cast<Tone*>(userdata);
    void* data = nullptr;
    if (pa_stream_begin_write(stream, &data, &bytes) < 0 || data == nullptr) return fail("begin_write");
    auto* out = static_cast<float*>(data);
    const size_t frames = bytes / (2 * sizeof(float));
    for (size_t f = 0; f < frames; ++f) {
        out[2 * f] = out[2 * f + 1] = static_cast<float>(0.25 * std::sin(tone->phase));
        tone->phase = std::fmod(tone->phase + 2.0 * M_PI * tone->hz / 48000, 2.0 * M_PI);
    }
    pa_stream_write(stream, data, frames * 2 * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
}

void onStreamState(pa_stream* stream, void*) {
    if (pa_stream_get_state(stream) == PA_STREAM_READY) {
        std::printf("%u\n", pa_stream_get_index(stream));
        std::fflush(stdout);
    }
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED) fail("stream");
}

void after(unsigned ms, void (*then)()) {
    pa_context_rttime_new(context, pa_rtclock_now() + ms * PA_USEC_PER_MSEC,
                          [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* f) {
                              reinterpret_cast<void (*)()>(f)();
                          },
                          reinterpret_cast<void*>(then));
}

void cork(int corked) {
    for (Tone& tone : tones) pa_operation_unref(pa_stream_cork(tone.stream, corked, nullptr, nullptr));
}

void onContextState(pa_context*, void*) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) fail("context");
    if (state != PA_CONTEXT_READY) return;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 48000, 2};
    // A short buffer, so that corking and ending take effect promptly.
    const auto target = static_cast<uint32_t>(pa_usec_to_bytes(50 * PA_USEC_PER_MSEC, &spec));
    const pa_buffer_attr attr{UINT32_MAX, target, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    for (Tone& tone : tones) {
        tone.stream = pa_stream_new(context, "tone", &spec, nullptr);
        pa_stream_set_state_callback(tone.stream, onStreamState, nullptr);
        pa_stream_set_write_callback(tone.stream, onWrite, &tone);
        if (pa_stream_connect_playback(tone.stream, sink, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            return fail("connect_playback");
    }
    if (corkAfterMs > 0) after(corkAfterMs, [] {
        cork(1);
        after(corkForMs, [] { cork(0); });
    });
    if (seconds > 0) after(static_cast<unsigned>(seconds * 1000), [] { pa_mainloop_quit(loop, 0); });
}

}  // namespace

int main(int argc, char** argv) {
    bool fork = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        i += arg == "--fork" ? 0 : 1;
        if (arg == "--fork") fork = true;
        else if (arg == "--freq") tones.push_back(Tone{std::atof(value), 0, nullptr});
        else if (arg == "--seconds") seconds = std::atof(value);
        else if (arg == "--delay") delayMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--cork-after") corkAfterMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--cork-for") corkForMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--sink") sink = value;
        else return 2;
    }
    if (fork) {
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        int status = 0;
        if (child > 0) return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) return 1;
    }
    ::usleep(delayMs * 1000);
    loop = pa_mainloop_new();
    context = pa_context_new(pa_mainloop_get_api(loop), "tone_player");
    pa_context_set_state_callback(context, onContextState, nullptr);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) fail("connect");
    int result = 1;
    pa_mainloop_run(loop, &result);
    return result;
}
