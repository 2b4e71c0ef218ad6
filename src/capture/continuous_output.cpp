#include "capture/continuous_output.h"

#include "output/output_stream.h"
#include "output/silence.h"
#include "output/status_line.h"

namespace {

// Zeros stand for time only once it is 100 ms old: a packet is handed over a
// period or so after its first frame was captured, so one that lands within
// that lag still finds its place free and loses nothing. Waking every 50 ms,
// lag plus wake-up keeps an empty stretch written well within the 150 ms the
// default stream's loop may sleep.
constexpr std::uint64_t kFillLag = 1000000;
constexpr std::uint32_t kFillEveryMs = 50;

}  // namespace

ContinuousOutput::ContinuousOutput(std::uint32_t sampleRate, std::uint32_t channels, std::uint64_t start,
                                   std::uint64_t totalFrames, Silence& silence, StatusLine& status)
    : channels_(channels), clock_(sampleRate, start), total_(totalFrames), silence_(silence), status_(status) {}

std::uint64_t ContinuousOutput::room(std::uint64_t frames) const {
    if (total_ == 0) return frames;
    const std::uint64_t left = total_ - clock_.written();
    return frames < left ? frames : left;
}

bool ContinuousOutput::writeZeros(std::uint64_t frames, bool filler) {
    return silence_.write(frames, [this, filler](const float* zeros, std::uint64_t n) {
        clock_.wrote(n, filler);
        status_.written(zeros, static_cast<std::size_t>(n) * channels_);
    });
}

bool ContinuousOutput::packet(const float* samples, std::uint32_t frames, std::uint64_t time, std::uint64_t arrival) {
    const StreamClock::Placement p = clock_.place(time, arrival, frames);
    if (!writeZeros(room(p.zeros))) return false;
    const auto kept = static_cast<std::uint32_t>(room(frames - p.skip));
    if (kept == 0) return true;
    if (samples == nullptr) return writeZeros(kept);
    const float* first = samples + static_cast<std::size_t>(p.skip) * channels_;
    const std::size_t count = static_cast<std::size_t>(kept) * channels_;
    if (!writeAll(first, count * sizeof(float))) return false;
    clock_.wrote(kept);
    status_.written(first, count);
    return true;
}

bool ContinuousOutput::fill(std::uint64_t now) {
    return writeZeros(room(clock_.zerosDue(now < kFillLag ? 0 : now - kFillLag)), true);
}

std::uint32_t ContinuousOutput::waitMs() const { return total_ != 0 && clock_.written() >= total_ ? 0 : kFillEveryMs; }
