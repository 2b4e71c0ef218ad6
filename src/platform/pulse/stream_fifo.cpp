#include "platform/pulse/stream_fifo.h"

#include <algorithm>
#include <cstring>

namespace pulse {

void StreamFifo::reset(std::uint32_t capacityFrames, std::uint32_t channels, std::uint32_t period) {
    ring_.assign(static_cast<std::size_t>(capacityFrames) * channels, 0.0f);
    capacity_ = capacityFrames;
    channels_ = channels;
    period_ = period;
    head_ = 0;
    count_ = 0;
    largestChunk_ = 0;
    playing_ = false;
    finished_ = false;
    stalled_ = false;
}

void StreamFifo::discard(std::uint32_t frames) {
    frames = std::min(frames, count_);
    head_ = (head_ + frames) % capacity_;
    count_ -= frames;
}

void StreamFifo::push(const float* samples, std::uint32_t frames) {
    if (capacity_ == 0 || frames == 0) return;
    if (stalled_) {
        stalled_ = false;
        playing_ = false;
    }
    // A chunk larger than the whole buffer: only its newest part can be kept.
    if (frames > capacity_) {
        if (samples != nullptr) samples += static_cast<std::size_t>(frames - capacity_) * channels_;
        frames = capacity_;
    }
    // The level a stream needs is bounded by what the buffer can hold.
    largestChunk_ = std::min(std::max(largestChunk_, frames), capacity_ / 2);
    if (count_ + frames > capacity_) discard(count_ + frames - capacity_);
    std::uint32_t tail = (head_ + count_) % capacity_;
    for (std::uint32_t left = frames; left > 0;) {
        const std::uint32_t run = std::min(left, capacity_ - tail);
        float* out = ring_.data() + static_cast<std::size_t>(tail) * channels_;
        const std::size_t samplesInRun = static_cast<std::size_t>(run) * channels_;
        if (samples != nullptr) {
            std::memcpy(out, samples, samplesInRun * sizeof(float));
            samples += samplesInRun;
        } else {
            std::fill(out, out + samplesInRun, 0.0f);
        }
        tail = (tail + run) % capacity_;
        left -= run;
        count_ += run;
    }
}

bool StreamFifo::ready() {
    if (finished_ || stalled_) return count_ > 0;
    const std::uint32_t level = startLevel();
    if (!playing_) {
        if (count_ < level) return false;
        playing_ = true;
    }
    // Well past what jitter needs: latency would only grow, so the oldest goes.
    if (count_ > level + 4 * period_) discard(count_ - level);
    return true;
}

void StreamFifo::take(float* dst) {
    const std::uint32_t frames = std::min(period_, count_);
    if (dst != nullptr) {
        std::uint32_t at = head_;
        float* out = dst;
        for (std::uint32_t left = frames; left > 0;) {
            const std::uint32_t run = std::min(left, capacity_ - at);
            const float* in = ring_.data() + static_cast<std::size_t>(at) * channels_;
            const std::size_t n = static_cast<std::size_t>(run) * channels_;
            for (std::size_t i = 0; i < n; ++i) out[i] += in[i];
            out += n;
            at = (at + run) % capacity_;
            left -= run;
        }
    }
    discard(frames);
    if (frames < period_) playing_ = false;
}

}  // namespace pulse
