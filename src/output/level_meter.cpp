#include "output/level_meter.h"

#include <cmath>
#include <cstdio>

void LevelMeter::start(std::uint32_t channels, std::uint64_t nowMs) {
    *this = LevelMeter{};
    channels_ = channels < 1 ? 1 : (channels > kChannelSlots ? kChannelSlots : channels);
    startMs_ = nowMs;
    shownMs_ = nowMs;
}

std::size_t LevelMeter::line(char (&out)[kLineBytes], std::uint64_t nowMs) {
    const std::uint64_t seconds = (nowMs - startMs_) / 1000;
    const double mib = static_cast<double>(bytes_) / (1024.0 * 1024.0);
    int n = std::snprintf(out, kLineBytes, "%02llu:%02llu:%02llu %9.1f MiB ",
                          static_cast<unsigned long long>(seconds / 3600),
                          static_cast<unsigned long long>(seconds / 60 % 60),
                          static_cast<unsigned long long>(seconds % 60), mib);
    for (std::uint32_t c = 0; c < channels_ && n > 0 && static_cast<std::size_t>(n) < kLineBytes; ++c) {
        // Anything below -99.9 dBFS is shown as silence.
        const double db = peaks_[c] > 0.0f ? 20.0 * std::log10(static_cast<double>(peaks_[c])) : -1000.0;
        n += db < -99.95 ? std::snprintf(out + n, kLineBytes - static_cast<std::size_t>(n), "  -inf")
                         : std::snprintf(out + n, kLineBytes - static_cast<std::size_t>(n), "%6.1f", db);
        peaks_[c] = 0.0f;
    }
    if (n > 0 && static_cast<std::size_t>(n) < kLineBytes) {
        n += std::snprintf(out + n, kLineBytes - static_cast<std::size_t>(n), " dBFS");
    }
    shownMs_ = nowMs;
    return n < 0 ? 0 : (static_cast<std::size_t>(n) < kLineBytes ? static_cast<std::size_t>(n) : kLineBytes - 1);
}
