#include "linux/mixer.h"

#include <algorithm>

namespace linuxaudio {

void Mixer::reset(std::uint32_t rate, std::uint32_t channels, std::uint64_t startUsec) {
    rate_ = rate;
    channels_ = channels;
    period_ = rate / 100;
    packet_.assign(static_cast<std::size_t>(period_) * channels, 0.0f);
    startUsec_ = startUsec;
    position_ = 0;
    first_ = true;
}

std::uint64_t Mixer::timeOf(std::uint64_t position) const { return startUsec_ + position * 1000000ull / rate_; }

std::uint64_t Mixer::positionAt(std::uint64_t usec) const {
    return usec <= startUsec_ ? 0 : (usec - startUsec_) * rate_ / 1000000ull;
}

Mixer::Scan Mixer::scan(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const {
    Scan s;
    for (std::size_t i = 0; i < count; ++i) {
        const StreamFifo& f = *inputs[i];
        s.held = std::max(s.held, f.frames());
        s.dropped = s.dropped || f.dropped();
        if (f.ended() || !f.delivered() || nowUsec >= f.lastDelivery() + kStaleUsec) continue;
        s.common = std::min(s.common, f.frames());
        if (f.frames() == 0) s.staleAt = std::min(s.staleAt, f.lastDelivery() + kStaleUsec);
    }
    return s;
}

bool Mixer::next(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec, CapturedPacket& out) {
    const Scan s = scan(inputs, count, nowUsec);
    const std::uint32_t frames = std::min({period_, s.held, s.common});
    if (frames == 0) return false;
    const std::uint64_t heldUsec = static_cast<std::uint64_t>(s.held) * 1000000ull / rate_;
    const std::uint64_t byClock = positionAt(nowUsec > heldUsec ? nowUsec - heldUsec : 0);
    if (first_) {
        position_ = byClock;
    } else if (s.dropped || byClock > position_ + kMaxLagUsec * rate_ / 1000000ull) {
        position_ = std::max(position_, byClock);
    }
    if (timeOf(position_) > nowUsec + 10000) return false;
    std::fill(packet_.begin(), packet_.end(), 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        if (inputs[i]->frames() > 0 || inputs[i]->dropped()) inputs[i]->take(packet_.data(), frames);
    }
    out.samples = packet_.data();
    out.frames = frames;
    out.flags = s.dropped ? static_cast<std::uint32_t>(CapturedPacket::kDiscontinuity) : 0u;
    out.time = timeOf(position_) * 10;  // 100 ns units
    position_ += frames;
    first_ = false;
    return true;
}

std::uint64_t Mixer::wakeAt(StreamFifo* const* inputs, std::size_t count, std::uint64_t nowUsec) const {
    const Scan s = scan(inputs, count, nowUsec);
    if (s.held == 0) return kNever;
    if (s.common == 0) return s.staleAt;
    // Held back only by its position running ahead of the clock.
    return timeOf(position_) - 10000;
}

}  // namespace linuxaudio
