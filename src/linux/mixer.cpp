#include "linux/mixer.h"

#include <algorithm>

namespace linuxaudio {

void Mixer::reset(std::uint32_t rate, std::uint32_t channels, std::uint64_t startUsec) {
    rate_ = rate;
    channels_ = channels;
    period_ = rate / 100;
    packet_.assign(static_cast<std::size_t>(period_) * channels, 0.0f);
    startUsec_ = startUsec;
    next_ = 0;
    first_ = true;
}

std::uint64_t Mixer::timeOf(std::uint64_t number) const {
    return startUsec_ + number * period_ * 1000000ull / rate_;
}

std::uint64_t Mixer::numberAt(std::uint64_t usec) const {
    return usec <= startUsec_ ? 0 : (usec - startUsec_) * rate_ / (period_ * 1000000ull);
}

Mixer::Scan Mixer::scan(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const {
    Scan s;
    for (std::size_t i = 0; i < count; ++i) {
        const StreamFifo& f = *inputs[i];
        s.held = std::max(s.held, f.frames());
        s.dropped = s.dropped || f.dropped();
        const bool live = !f.ended() && f.delivered() && nowUsec < f.lastDelivery() + kStaleUsec;
        if (live && f.frames() < period_) {
            s.complete = false;
            s.staleAt = std::min(s.staleAt, f.lastDelivery() + kStaleUsec);
        }
    }
    return s;
}

bool Mixer::next(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec, CapturedPacket& out) {
    const Scan s = scan(inputs, count, nowUsec);
    if (s.held == 0 || !s.complete) return false;
    const std::uint64_t heldUsec = static_cast<std::uint64_t>(s.held) * 1000000ull / rate_;
    const std::uint64_t byClock = numberAt(nowUsec > heldUsec ? nowUsec - heldUsec : 0);
    const std::uint64_t maxLag = kMaxLagUsec * rate_ / (period_ * 1000000ull);
    if (first_) {
        next_ = byClock;
    } else if (s.dropped || byClock > next_ + maxLag) {
        next_ = std::max(next_, byClock);
    }
    if (timeOf(next_) > nowUsec + (timeOf(1) - startUsec_)) return false;
    std::fill(packet_.begin(), packet_.end(), 0.0f);
    std::uint32_t frames = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (inputs[i]->frames() > 0 || inputs[i]->dropped()) frames = std::max(frames, inputs[i]->take(packet_.data(), period_));
    }
    out.samples = packet_.data();
    out.frames = frames;
    out.flags = s.dropped ? static_cast<std::uint32_t>(CapturedPacket::kDiscontinuity) : 0u;
    out.time = timeOf(next_) * 10;  // 100 ns units
    ++next_;
    first_ = false;
    return true;
}

std::uint64_t Mixer::wakeAt(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const {
    const Scan s = scan(inputs, count, nowUsec);
    if (s.held == 0) return kNever;
    if (!s.complete) return s.staleAt;
    // Held back only by its number running ahead of the clock.
    return timeOf(next_) - (timeOf(1) - startUsec_);
}

}  // namespace linuxaudio
