#include "capture/stream_clock.h"

namespace {
constexpr std::int64_t kUnitsPerSecond = 10000000;
}

std::int64_t StreamClock::frameAt(std::uint64_t time) const {
    const std::int64_t since = static_cast<std::int64_t>(time - start_);
    const std::int64_t scaled = since * static_cast<std::int64_t>(rate_);
    // Rounded to the nearest frame, either side of the start.
    return (scaled >= 0 ? scaled + kUnitsPerSecond / 2 : scaled - kUnitsPerSecond / 2) / kUnitsPerSecond;
}

StreamClock::Placement StreamClock::place(std::uint64_t time, std::uint64_t arrival, std::uint32_t frames) {
    std::uint64_t snap = lastTime_ == 0 || afterFiller_ ? 0 : kSnap;
    if (time == 0 || time < lastTime_) {
        time = arrival - static_cast<std::uint64_t>(frames) * kUnitsPerSecond / rate_;
        snap = kArrivalSnap;
    } else {
        lastTime_ = time;
    }
    const std::int64_t ahead = frameAt(time) - static_cast<std::int64_t>(written_);
    const auto tolerance = static_cast<std::int64_t>(snap * rate_ / kUnitsPerSecond);
    Placement p;
    if (ahead > tolerance) p.zeros = static_cast<std::uint64_t>(ahead);
    if (ahead < -tolerance) p.skip = -ahead < frames ? static_cast<std::uint32_t>(-ahead) : frames;
    return p;
}

std::uint64_t StreamClock::zerosDue(std::uint64_t until) const {
    const std::int64_t due = frameAt(until) - static_cast<std::int64_t>(written_);
    return due > 0 ? static_cast<std::uint64_t>(due) : 0;
}
