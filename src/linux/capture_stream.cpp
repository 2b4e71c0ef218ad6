#include "linux/capture_stream.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "capture/capture_lines.h"
#include "linux/console.h"
#include "linux/mixer.h"
#include "linux/pulse_connection.h"
#include "linux/pulse_symbols.h"
#include "linux/stream_set.h"

namespace linuxaudio {

namespace {

// Away from the loop this long (a hand-over, or the program between waits),
// the capture reads what the server queued meanwhile all at once.
constexpr pa_usec_t kStalledUsec = 20000;
// How many loop turns such a catch-up may take at most.
constexpr int kCatchUpTurns = 10000;

class LinuxCapture final : public CaptureStream {
public:
    LinuxCapture(std::unique_ptr<PulseConnection> connection, const CaptureRequest& request, int pidfd,
                 const std::atomic<bool>* stop)
        : connection_(std::move(connection)),
          streams_(*connection_, request.pid, request.includeTree, request.sampleRate, request.channels),
          pidfd_(pidfd),
          stop_(stop) {}

    ~LinuxCapture() override {
        pa_mainloop_api* api = pa_mainloop_get_api(connection_->loop());
        if (pidEvent_ != nullptr) api->io_free(pidEvent_);
        if (wakeEvent_ != nullptr) api->io_free(wakeEvent_);
        if (pidfd_ >= 0) ::close(pidfd_);
        // The monitors go first (streams_), then the connection, as members are destroyed.
    }
    LinuxCapture(const LinuxCapture&) = delete;
    LinuxCapture& operator=(const LinuxCapture&) = delete;

    bool start(const CaptureRequest& request) {
        pa_mainloop_api* api = pa_mainloop_get_api(connection_->loop());
        if (pidfd_ >= 0) pidEvent_ = api->io_new(api, pidfd_, PA_IO_EVENT_INPUT, onTargetExit, this);
        if (stop_ != nullptr && wakeDescriptor() >= 0) {
            wakeEvent_ = api->io_new(api, wakeDescriptor(), PA_IO_EVENT_INPUT, onWake, this);
        }
        startUsec_ = leftAt_ = pa_rtclock_now();
        mixer_.reset(request.sampleRate, request.channels, startUsec_);
        return streams_.start();
    }

    std::uint64_t startTime() const override { return startUsec_ * 10; }
    std::uint64_t now() const override { return pa_rtclock_now() * 10; }

    WaitResult wait(std::uint32_t ms, CaptureSink& sink) override {
        pa_usec_t now = pa_rtclock_now();
        if (now - leftAt_ >= kStalledUsec) catchUp();
        const WaitResult result = waitFrom(now, now + ms * 1000ull, sink);
        leftAt_ = pa_rtclock_now();
        return result;
    }

private:
    WaitResult waitFrom(pa_usec_t now, pa_usec_t deadline, CaptureSink& sink) {
        for (;;) {
            // Stopping or ending hands nothing over; a hand-over once begun goes on.
            if (targetExited_) return WaitResult::TargetExited;
            if (stop_ != nullptr && stop_->load()) return WaitResult::Continue;
            bool handed = false;
            CapturedPacket packet;
            while (mixer_.next(streams_.inputs(), streams_.count(), now, packet)) {
                handed = true;
                if (!sink.packet(packet)) return WaitResult::Ended;
                const pa_usec_t after = pa_rtclock_now();
                if (after - now >= kStalledUsec) catchUp();
                now = after;
            }
            streams_.sweep();
            say(sink);
            if (!connection_->good()) {
                char line[200];
                std::snprintf(line, sizeof line, "warn: audio server connection lost: %s\n",
                              pa_strerror(connection_->lostError()));
                sink.say(line);
                return WaitResult::Ended;
            }
            if (handed || now >= deadline) return WaitResult::Continue;
            const pa_usec_t wake = std::min(deadline, mixer_.wakeAt(streams_.inputs(), streams_.count(), now));
            turn(wake > now ? static_cast<int>(wake - now) : 0);
            now = pa_rtclock_now();
        }
    }

    // Whoever held the capture up (a reader that stalled the write) has left
    // the server a backlog: all of it is read at once, so that the FIFOs keep
    // only the newest.
    void catchUp() {
        for (int turns = 0; turns < kCatchUpTurns && pa_mainloop_iterate(connection_->loop(), 0, nullptr) > 0;)
            ++turns;
    }

    // One wait for the poll and what it found.
    void turn(int timeoutUsec) {
        pa_mainloop* loop = connection_->loop();
        if (pa_mainloop_prepare(loop, timeoutUsec) < 0) return;
        if (pa_mainloop_poll(loop) < 0) return;
        pa_mainloop_dispatch(loop);
    }

    void say(CaptureSink& sink) {
        const std::string lines = streams_.takeLines();
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = lines.find('\n', at) + 1;
            sink.say(lines.substr(at, end - at).c_str());
            at = end;
        }
    }

    static void onTargetExit(pa_mainloop_api* api, pa_io_event* event, int /*fd*/, pa_io_event_flags_t /*f*/,
                             void* self) {
        static_cast<LinuxCapture*>(self)->targetExited_ = true;
        api->io_enable(event, PA_IO_EVENT_NULL);
    }

    static void onWake(pa_mainloop_api* /*api*/, pa_io_event* /*event*/, int /*fd*/, pa_io_event_flags_t /*f*/,
                       void* /*self*/) {
        drainWake();
    }

    std::unique_ptr<PulseConnection> connection_;
    StreamSet streams_;
    Mixer mixer_;
    int pidfd_;
    const std::atomic<bool>* stop_;
    pa_io_event* pidEvent_ = nullptr;
    pa_io_event* wakeEvent_ = nullptr;
    pa_usec_t startUsec_ = 0;
    pa_usec_t leftAt_ = 0;  // when wait() last returned
    bool targetExited_ = false;
};

}  // namespace

std::unique_ptr<CaptureStream> openCapture(const CaptureRequest& request, const std::atomic<bool>* stop) {
    int pidfd = -1;
    if (request.watchTarget) {
        pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(request.pid), 0));
        if (pidfd < 0) {
            sayProcessNotOpened(request.pid);
            return nullptr;
        }
    }
    std::unique_ptr<PulseConnection> connection = PulseConnection::open();
    if (!connection || !connection->announce()) {
        if (pidfd >= 0) ::close(pidfd);
        return nullptr;
    }
    sayCaptureFormat(request.sampleRate, request.channels);
    std::unique_ptr<LinuxCapture> capture(new LinuxCapture(std::move(connection), request, pidfd, stop));
    if (!capture->start(request)) return nullptr;
    sayCaptureStarted(request.sampleRate, request.channels);
    return capture;
}

}  // namespace linuxaudio
