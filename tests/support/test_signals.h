// What the fakes play, known to the tests that read it back: a byte pattern
// that any translation or clamp on the way would change, and a 440 Hz tone.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace testsignals {

using Stretches = std::vector<std::pair<unsigned, unsigned>>;  // {from, for} ms

inline bool within(const Stretches& stretches, std::uint64_t ms) {
    return std::any_of(stretches.begin(), stretches.end(),
                       [ms](const auto& s) { return ms >= s.first && ms - s.first < s.second; });
}

// Finite floats whose bytes include 0x0A, 0x0D, 0x1A, 0x00 and 0xFF, so that
// any text-mode translation shows; some samples are above 1 and some -0.0,
// which a clamp or a conversion that loses the sign would change. Into
// `bytes` without allocating, so a fake can make packets of it in steady state.
inline void fillPattern(std::uint64_t offset, unsigned char* bytes, std::size_t count) {
    static const unsigned char kLow[] = {0x0D, 0x0A, 0x1A, 0x00, 0xFF, 0x0A, 0x7F};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t sample = (offset + i) / 4;
        const unsigned byteInSample = static_cast<unsigned>((offset + i) % 4);
        const unsigned char top = sample % 7 == 3 ? 0x40 : (sample & 1) != 0 ? 0xBE : 0x3E;
        bytes[i] = sample % 13 == 5 ? static_cast<unsigned char>(byteInSample == 3 ? 0x80 : 0x00)
                   : byteInSample == 3 ? top
                                       : kLow[(sample * 3 + byteInSample) % sizeof kLow];
    }
}

inline std::vector<unsigned char> patternBytes(std::uint64_t offset, std::size_t count) {
    std::vector<unsigned char> bytes(count);
    fillPattern(offset, bytes.data(), count);
    return bytes;
}

// The tone's sample at `frame` of the fake's clock; exactly 0 on each whole second.
inline float toneAt(std::uint64_t frame, std::uint32_t rate) {
    return static_cast<float>(0.25 * std::sin(2.0 * 3.14159265358979323846 * 440.0 * static_cast<double>(frame % rate) / rate));
}

}  // namespace testsignals
