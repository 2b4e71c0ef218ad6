#include "capture/capture_loop.h"

#include <cstdio>
#include <optional>

#include "capture/continuous_output.h"
#include "output/output_stream.h"
#include "output/silence.h"
#include "output/status_line.h"

namespace {

// Bounds how long a stop request goes unnoticed on a platform whose wait it cannot wake.
constexpr std::uint32_t kWaitMs = 150;
constexpr std::uint64_t kUnitsPerMs = 10000;  // the stream's clock counts 100 ns

// Milliseconds left of the run's duration, at most kWaitMs; 0 once it is over.
std::uint32_t msLeft(const CaptureLimits& limits, std::uint64_t spentMs) {
    if (limits.durationMs == 0) return kWaitMs;
    if (spentMs >= limits.durationMs) return 0;
    const std::uint64_t left = limits.durationMs - spentMs;
    return left < kWaitMs ? static_cast<std::uint32_t>(left) : kWaitMs;
}

// Each packet as the stream hands it over, written at once: as it came, or in
// its place on the clock.
class Writer final : public CaptureSink {
public:
    Writer(CaptureStream& stream, std::uint32_t channels, Silence& silence, StatusLine& status,
           ContinuousOutput* continuous)
        : stream_(stream), channels_(channels), silence_(silence), status_(status), continuous_(continuous) {}

    bool packet(const CapturedPacket& p) override {
        const bool silent = (p.flags & CapturedPacket::kSilent) != 0 || p.samples == nullptr || p.frames == 0;
        if (continuous_ != nullptr) return continuous_->packet(silent ? nullptr : p.samples, p.frames, p.time, stream_.now());
        if (silent) {
            return silence_.write(p.frames, [this](const float* zeros, std::uint64_t n) {
                status_.written(zeros, static_cast<std::size_t>(n) * channels_);
            });
        }
        const std::size_t count = static_cast<std::size_t>(p.frames) * channels_;
        if (!writeAll(p.samples, count * sizeof(float))) return false;
        status_.written(p.samples, count);
        return true;
    }

    void say(const char* line) override {
        status_.erase();
        std::fputs(line, stderr);
    }

private:
    CaptureStream& stream_;
    std::uint32_t channels_;
    Silence& silence_;
    StatusLine& status_;
    ContinuousOutput* continuous_;
};

}  // namespace

void runCaptureLoop(CaptureStream& stream, std::uint32_t sampleRate, std::uint32_t channels,
                    const std::atomic<bool>& stop, StatusLine& status, const CaptureLimits& limits) {
    const std::uint64_t start = stream.now();
    Silence silence(sampleRate, channels);
    // Continuous, the run ends once the duration's frames are written rather than when its time is up.
    std::optional<ContinuousOutput> continuous;
    if (limits.continuous) {
        const std::uint64_t totalFrames = limits.durationMs * sampleRate / 1000;
        continuous.emplace(sampleRate, channels, stream.startTime(), totalFrames, silence, status);
    }
    Writer writer(stream, channels, silence, status, continuous ? &*continuous : nullptr);
    for (;;) {
        status.refresh();
        const std::uint32_t ms = continuous ? continuous->waitMs() : msLeft(limits, (stream.now() - start) / kUnitsPerMs);
        if (stop.load() || ms == 0) return;
        const WaitResult result = stream.wait(ms, writer);
        if (result == WaitResult::Ended || stop.load()) return;
        if (result == WaitResult::TargetExited) {
            status.erase();
            std::fprintf(stderr, "info: target process exited\n");
            return;
        }
        // After the packets, so those already waiting take their place before it is filled.
        if (continuous && !continuous->fill(stream.now())) return;
    }
}
