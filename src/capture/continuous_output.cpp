#include "capture/continuous_output.h"

#include "output/output_stream.h"
#include "output/packet_writer.h"
#include "output/status_line.h"

namespace {

// Zeros stand for time only once it is 100 ms old: a packet is handed over a
// period or so after its first frame was captured, so one that lands within
// that lag still finds its place free and loses nothing. Waking every 50 ms,
// lag plus wake-up keeps an empty stretch written well within the 150 ms the
// default stream's loop may sleep.
constexpr std::uint64_t kFillLag = 1000000;
constexpr DWORD kFillEveryMs = 50;
constexpr std::uint32_t kZeroChunkDivisor = 10;  // zeros are written a tenth of a second at a time

}  // namespace

std::uint64_t performanceTime() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const auto c = static_cast<std::uint64_t>(count.QuadPart), f = static_cast<std::uint64_t>(frequency.QuadPart);
    return c / f * 10000000u + c % f * 10000000u / f;
}

ContinuousOutput::ContinuousOutput(const WAVEFORMATEX& format, std::uint32_t channels, std::uint64_t start,
                                   std::uint64_t totalFrames, std::vector<float>& sampleBuffer, StatusLine& status)
    : format_(format),
      channels_(channels),
      clock_(format.nSamplesPerSec, start),
      total_(totalFrames),
      sampleBuffer_(sampleBuffer),
      status_(status),
      zeros_(static_cast<std::size_t>(format.nSamplesPerSec / kZeroChunkDivisor) * channels, 0.0f) {}

std::uint64_t ContinuousOutput::room(std::uint64_t frames) const {
    if (total_ == 0) return frames;
    const std::uint64_t left = total_ - clock_.written();
    return frames < left ? frames : left;
}

bool ContinuousOutput::writeZeros(std::uint64_t frames, bool filler) {
    const std::uint64_t chunk = zeros_.size() / channels_;
    for (std::uint64_t done = 0; done < frames;) {
        const std::uint64_t n = frames - done < chunk ? frames - done : chunk;
        const std::size_t samples = static_cast<std::size_t>(n) * channels_;
        if (!writeAll(zeros_.data(), samples * sizeof(float))) return false;
        clock_.wrote(n, filler);
        status_.written(zeros_.data(), samples);
        done += n;
    }
    return true;
}

bool ContinuousOutput::packet(const BYTE* data, std::uint32_t frames, bool silent, std::uint64_t time) {
    const StreamClock::Placement p = clock_.place(time, performanceTime(), frames);
    if (!writeZeros(room(p.zeros))) return false;
    const auto kept = static_cast<std::uint32_t>(room(frames - p.skip));
    if (kept == 0) return true;
    if (silent) return writeZeros(kept);
    if (!writePacket(data + static_cast<std::size_t>(p.skip) * format_.nBlockAlign, kept, format_, channels_, sampleBuffer_)) {
        return false;
    }
    clock_.wrote(kept);
    status_.written(sampleBuffer_.data(), static_cast<std::size_t>(kept) * channels_);
    return true;
}

bool ContinuousOutput::fill() { return writeZeros(room(clock_.zerosDue(performanceTime() - kFillLag)), true); }

DWORD ContinuousOutput::waitMs() const { return total_ != 0 && clock_.written() >= total_ ? 0 : kFillEveryMs; }
