// Test-only player: plays sine tones through the Pulse protocol, one playback
// stream per --freq, and prints each stream's sink-input index once it plays.
//
//   tone_player --freq 440 [--freq 550] [--rate 48000] [--channels 2] [--amp 0.25]
//               [--seconds S] [--fork] [--delay MS] [--cork-after MS --cork-for MS] [--sink NAME]
//
// --seconds 0 (the default) plays until killed. --fork: a child process plays
// and the parent stays alive until it ends (the child dies with the parent).
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    std::vector<double> freqs;
    unsigned rate = 48000;
    unsigned channels = 2;
    double amp = 0.25;
    double seconds = 0;
    bool fork = false;
    unsigned delayMs = 0;
    unsigned corkAfterMs = 0;
    unsigned corkForMs = 0;
    std::string sink;
};

struct Tone {
    double hz = 0;
    double phase = 0;
    pa_stream* stream = nullptr;
};

struct Player {
    Options options;
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    std::vector<Tone> tones;
};

Player player;

void fail(const char* what) {
    std::fprintf(stderr, "tone_player: %s: %s\n", what, pa_strerror(pa_context_errno(player.context)));
    pa_mainloop_quit(player.loop, 1);
}

void onWrite(pa_stream* stream, size_t bytes, void* userdata) {
    auto* tone = static_cast<Tone*>(userdata);
    void* data = nullptr;
    if (pa_stream_begin_write(stream, &data, &bytes) < 0 || data == nullptr) return fail("begin_write");
    const unsigned channels = player.options.channels;
    const size_t frames = bytes / (sizeof(float) * channels);
    auto* out = static_cast<float*>(data);
    const double step = 2.0 * M_PI * tone->hz / player.options.rate;
    for (size_t f = 0; f < frames; ++f) {
        const auto value = static_cast<float>(player.options.amp * std::sin(tone->phase));
        for (unsigned c = 0; c < channels; ++c) out[f * channels + c] = value;
        tone->phase = std::fmod(tone->phase + step, 2.0 * M_PI);
    }
    pa_stream_write(stream, data, frames * sizeof(float) * channels, nullptr, 0, PA_SEEK_RELATIVE);
}

void onStreamState(pa_stream* stream, void*) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        std::printf("%u\n", pa_stream_get_index(stream));
        std::fflush(stdout);
    } else if (state == PA_STREAM_FAILED) {
        fail("stream");
    }
}

void at(unsigned ms, pa_time_event_cb_t callback) {
    pa_context_rttime_new(player.context, pa_rtclock_now() + ms * PA_USEC_PER_MSEC, callback, nullptr);
}

void cork(int corked) {
    for (Tone& tone : player.tones) pa_operation_unref(pa_stream_cork(tone.stream, corked, nullptr, nullptr));
}

void onUncork(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) { cork(0); }
void onCork(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) {
    cork(1);
    at(player.options.corkForMs, onUncork);
}
void onEnd(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*) { pa_mainloop_quit(player.loop, 0); }

void openStreams() {
    const Options& o = player.options;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, o.rate, static_cast<uint8_t>(o.channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, o.channels, PA_CHANNEL_MAP_DEFAULT);
    // A short buffer, so that corking and ending take effect promptly.
    const auto target = static_cast<uint32_t>(pa_usec_to_bytes(50 * PA_USEC_PER_MSEC, &spec));
    const pa_buffer_attr attr{UINT32_MAX, target, UINT32_MAX, UINT32_MAX, UINT32_MAX};
    for (Tone& tone : player.tones) {
        tone.stream = pa_stream_new(player.context, "tone", &spec, &map);
        pa_stream_set_state_callback(tone.stream, onStreamState, nullptr);
        pa_stream_set_write_callback(tone.stream, onWrite, &tone);
        if (pa_stream_connect_playback(tone.stream, o.sink.empty() ? nullptr : o.sink.c_str(), &attr,
                                       PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            return fail("connect_playback");
    }
    if (o.corkAfterMs > 0) at(o.corkAfterMs, onCork);
    if (o.seconds > 0) at(static_cast<unsigned>(o.seconds * 1000), onEnd);
}

void onContextState(pa_context* context, void*) {
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) openStreams();
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) fail("context");
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fork") {
            o.fork = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--freq") o.freqs.push_back(std::atof(value));
        else if (arg == "--rate") o.rate = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--channels") o.channels = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--amp") o.amp = std::atof(value);
        else if (arg == "--seconds") o.seconds = std::atof(value);
        else if (arg == "--delay") o.delayMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--cork-after") o.corkAfterMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--cork-for") o.corkForMs = static_cast<unsigned>(std::atoi(value));
        else if (arg == "--sink") o.sink = value;
        else return false;
    }
    return !o.freqs.empty() && o.channels >= 1 && o.channels <= PA_CHANNELS_MAX;
}

}  // namespace

int main(int argc, char** argv) {
    if (!parse(argc, argv, player.options)) {
        std::fprintf(stderr, "usage: see the head of tone_player.cpp\n");
        return 2;
    }
    if (player.options.fork) {
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        if (child > 0) {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0) {
            }
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        }
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) return 1;
    }
    if (player.options.delayMs > 0) ::usleep(player.options.delayMs * 1000);
    for (double hz : player.options.freqs) player.tones.push_back(Tone{hz, 0, nullptr});
    player.loop = pa_mainloop_new();
    player.context = pa_context_new(pa_mainloop_get_api(player.loop), "tone_player");
    pa_context_set_state_callback(player.context, onContextState, nullptr);
    if (pa_context_connect(player.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) fail("connect");
    int result = 1;
    pa_mainloop_run(player.loop, &result);
    return result;
}
