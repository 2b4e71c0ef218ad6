// What tones a capture holds, for the tests that read one: raw interleaved
// float32 frames and the level of one frequency in them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// The whole frames of a stream's bytes as samples.
inline std::vector<float> samplesOf(const std::vector<unsigned char>& bytes, unsigned channels) {
    std::vector<float> samples(bytes.size() / (sizeof(float) * channels) * channels);
    if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// Amplitude of the sine at `hz` in one channel, frames [begin, end) (a sine of
// amplitude A gives A). Hann-windowed Goertzel over 100 ms blocks, power-averaged:
// a dropout's phase jump cancels no block, and no tone leaks into another's bin.
inline double level(const std::vector<float>& samples, unsigned rate, unsigned channels, unsigned channel, double hz,
                    std::size_t begin, std::size_t end) {
    const std::size_t block = rate / 10;
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double power = 0.0, blocks = 0.0;
    for (; begin + block <= end; begin += block, ++blocks) {
        double s1 = 0.0, s2 = 0.0, gain = 0.0;
        for (std::size_t i = 0; i < block; ++i, std::swap(s1, s2)) {  // s2 takes s0, then the two swap
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(block));
            s2 = w * samples[(begin + i) * channels + channel] + coeff * s1 - s2;
            gain += w;
        }
        power += 4.0 * std::max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0.0) / (gain * gain);
    }
    return blocks == 0.0 ? 0.0 : std::sqrt(power / blocks);
}
