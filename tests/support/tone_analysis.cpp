#include "tone_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

Capture Capture::of(const std::vector<unsigned char>& bytes, unsigned channels, unsigned rate) {
    Capture c;
    c.channels = channels;
    c.rate = rate;
    c.samples.resize(bytes.size() / (sizeof(float) * channels) * channels);
    std::memcpy(c.samples.data(), bytes.data(), c.samples.size() * sizeof(float));
    return c;
}

Capture Capture::slice(double fromSeconds, double seconds) const {
    Capture c = *this;
    const std::size_t from = std::min(frames(), static_cast<std::size_t>(fromSeconds * rate));
    const std::size_t count = std::min(frames() - from, static_cast<std::size_t>(seconds * rate));
    c.samples.assign(samples.begin() + static_cast<std::ptrdiff_t>(from * channels),
                     samples.begin() + static_cast<std::ptrdiff_t>((from + count) * channels));
    return c;
}

double Capture::level(unsigned channel, double hz) const {
    const std::size_t n = frames();
    if (n == 0) return 0.0;
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double s1 = 0.0, s2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double s0 = samples[i * channels + channel] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(n);
}

double Capture::rms(unsigned channel) const {
    const std::size_t n = frames();
    if (n == 0) return 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += double(samples[i * channels + channel]) * samples[i * channels + channel];
    return std::sqrt(sum / static_cast<double>(n));
}
