#include "linux/stream_fifo.h"

#include <algorithm>
#include <cstring>

namespace linuxaudio {

void StreamFifo::reset(std::uint32_t capacityFrames, std::uint32_t channels) {
    ring_.assign(static_cast<std::size_t>(capacityFrames) * channels, 0.0f);
    capacity_ = capacityFrames;
    channels_ = channels;
    head_ = count_ = 0;
    lastDelivery_ = 0;
    delivered_ = dropped_ = ended_ = false;
}

void StreamFifo::discard(std::uint32_t frames) {
    frames = std::min(frames, count_);
    head_ = (head_ + frames) % capacity_;
    count_ -= frames;
}

void StreamFifo::push(const float* samples, std::uint32_t frames, std::uint64_t nowUsec) {
    if (capacity_ == 0 || frames == 0) return;
    delivered_ = true;
    lastDelivery_ = nowUsec;
    // Of a chunk larger than the whole ring only its newest part can be kept.
    if (frames > capacity_) {
        if (samples != nullptr) samples += static_cast<std::size_t>(frames - capacity_) * channels_;
        dropped_ = true;
        discard(count_);
        frames = capacity_;
    }
    if (count_ + frames > capacity_) {
        dropped_ = true;
        discard(count_ + frames - capacity_);
    }
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

std::uint32_t StreamFifo::take(float* dst, std::uint32_t frames) {
    frames = std::min(frames, count_);
    std::uint32_t at = head_;
    for (std::uint32_t left = frames; left > 0;) {
        const std::uint32_t run = std::min(left, capacity_ - at);
        const float* in = ring_.data() + static_cast<std::size_t>(at) * channels_;
        const std::size_t n = static_cast<std::size_t>(run) * channels_;
        for (std::size_t i = 0; i < n; ++i) dst[i] += in[i];
        dst += n;
        at = (at + run) % capacity_;
        left -= run;
    }
    discard(frames);
    dropped_ = false;
    return frames;
}

}  // namespace linuxaudio
