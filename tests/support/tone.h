// What tones a capture holds, for the tests that read one: the level of one
// frequency in a stream of raw interleaved float32 frames, and where the fake
// service's tone is in one.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "test_signals.h"

// Amplitude of the sine at `hz` in one channel of a stream's bytes, frames [begin, end) (a
// sine of amplitude A gives A). Hann-windowed Goertzel over 100 ms blocks, power-averaged:
// a dropout's phase jump cancels no block, and no tone leaks into another's bin.
inline double level(const std::vector<unsigned char>& bytes, unsigned rate, unsigned channels, unsigned channel,
                    double hz, std::size_t begin, std::size_t end) {
    const std::size_t block = rate / 10;
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double power = 0.0, blocks = 0.0;
    for (; begin + block <= end; begin += block, ++blocks) {
        double s1 = 0.0, s2 = 0.0, gain = 0.0;
        for (std::size_t i = 0; i < block; ++i, std::swap(s1, s2)) {  // s2 takes s0, then the two swap
            float sample;
            std::memcpy(&sample, &bytes[((begin + i) * channels + channel) * sizeof sample], sizeof sample);
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i) / static_cast<double>(block));
            s2 = w * sample + coeff * s1 - s2;
            gain += w;
        }
        power += 4.0 * std::max(s1 * s1 + s2 * s2 - coeff * s1 * s2, 0.0) / (gain * gain);
    }
    return blocks == 0.0 ? 0.0 : std::sqrt(power / blocks);
}

struct ToneFrames {
    std::uint64_t lead = 0, lost = 0, wrong = 0, shift = 0;
};

// Stereo 48 kHz `out` against the fake service's 440 Hz tone on its clock, which
// starts a moment after the program's: the tone's first frame (exactly 0) is the
// last of the `lead`ing zeros. From there each frame must be the tone at its time
// (exactly, or within `tolerance` where another C runtime's sine made it), or zero: in a silence of the
// script, else counted as `lost` audio. With `followJumps` the tone may jump ahead
// by whole 10 ms packets (the `shift`), as audio dropped without zeros in its place does;
// only an exact comparison tells a jump of whole periods from none.
// `silent` says whether the fake's script silences the tone at a millisecond.
inline ToneFrames toneFrames(const std::vector<unsigned char>& out, const std::function<bool(std::uint64_t)>& silent,
                             bool followJumps, float tolerance = 0.0f) {
    constexpr std::uint64_t kRate = 48000;
    const std::uint64_t frames = out.size() / 8;
    const auto zero = [&out](std::uint64_t n) { return std::memcmp(&out[n * 8], "\0\0\0\0\0\0\0\0", 8) == 0; };
    const auto toneAt = [&out, tolerance](std::uint64_t n, std::uint64_t t) {
        float sample[2];
        std::memcpy(sample, &out[n * 8], 8);
        const float expected = testsignals::toneAt(t, kRate);
        return std::fabs(sample[0] - expected) <= tolerance && std::fabs(sample[1] - expected) <= tolerance;
    };
    ToneFrames f;
    while (f.lead + 1 < frames && zero(f.lead + 1)) ++f.lead;
    for (std::uint64_t n = f.lead; n < frames; ++n) {
        if (silent((n - f.lead + f.shift) * 1000 / kRate)) {
            f.wrong += zero(n) ? 0 : 1;
        } else if (zero(n) && ((n - f.lead + f.shift) % kRate != 0 || (n + 1 < frames && zero(n + 1)))) {
            ++f.lost;  // the tone is exactly 0 on each whole second
        } else {
            for (std::uint64_t k = 480; followJumps && !toneAt(n, n - f.lead + f.shift) && k < kRate && n + 1 < frames; k += 480) {
                if (toneAt(n, n - f.lead + f.shift + k) && toneAt(n + 1, n + 1 - f.lead + f.shift + k)) f.shift += k;
            }
            f.wrong += toneAt(n, n - f.lead + f.shift) ? 0 : 1;
        }
    }
    return f;
}
