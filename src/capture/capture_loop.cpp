#include "capture/capture_loop.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "capture/continuous_output.h"
#include "output/output_stream.h"
#include "output/silence.h"
#include "output/status_line.h"

namespace {

// Bounds how long a stop request goes unnoticed on a platform whose wait it cannot wake.
constexpr std::uint32_t kWaitMs = 150;
// While nothing is written nothing notices a reader that went away; after this
// long without a packet standard output is asked, so the run ends within about a second.
constexpr std::uint64_t kReaderCheckMs = 500;
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
        handed_ = true;
        const bool silent = (p.flags & CapturedPacket::kSilent) != 0 || p.samples == nullptr || p.frames == 0;
        if (continuous_ != nullptr) {
            // A time the platform itself doubts is no better than none: such a packet goes by its arrival.
            // https://learn.microsoft.com/windows/win32/api/audioclient/ne-audioclient-_audclnt_bufferflags
            const std::uint64_t time = (p.flags & CapturedPacket::kTimestampError) != 0 ? 0 : p.time;
            return continuous_->packet(silent ? nullptr : p.samples, p.frames, time, stream_.now());
        }
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

    // Whether a packet was handed over since the last call.
    bool takeHanded() { return std::exchange(handed_, false); }

private:
    bool handed_ = false;
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
    std::uint64_t quietSince = start;
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
        const std::uint64_t now = stream.now();
        if (writer.takeHanded()) {
            quietSince = now;
        } else if (now - quietSince >= kReaderCheckMs * kUnitsPerMs) {
            if (outputReaderGone()) return;  // as a failed write ends it
            quietSince = now;
        }
        // After the packets, so those already waiting take their place before it is filled.
        if (continuous && !continuous->fill(now)) return;
    }
}
