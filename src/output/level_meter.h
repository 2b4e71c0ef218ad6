// The live meter's state and its line: pure logic, no output of its own.
#pragma once

#include <cstddef>
#include <cstdint>

class LevelMeter {
public:
    static constexpr std::uint32_t kChannelSlots = 8;
    static constexpr std::uint64_t kIntervalMs = 250;
    static constexpr std::size_t kLineBytes = 96;  // room for 8 channels; the line itself stays under 80 columns

    void start(std::uint32_t channels, std::uint64_t nowMs);

    // Interleaved samples as written; keeps the largest magnitude per channel.
    void track(const float* samples, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            const float magnitude = samples[i] < 0.0f ? -samples[i] : samples[i];
            float& peak = peaks_[channel_];
            if (magnitude > peak) peak = magnitude;
            if (++channel_ == channels_) channel_ = 0;
        }
    }
    void count(std::uint64_t bytes) { bytes_ += bytes; }

    bool due(std::uint64_t nowMs) const { return nowMs - shownMs_ >= kIntervalMs; }

    // "hh:mm:ss  <size>  <dBFS per channel> dBFS" from the peaks since the last
    // line, which start over. Returns the line's length (no line end).
    std::size_t line(char (&out)[kLineBytes], std::uint64_t nowMs);

private:
    std::uint32_t channels_ = 1;
    std::uint32_t channel_ = 0;
    float peaks_[kChannelSlots] = {};
    std::uint64_t bytes_ = 0;
    std::uint64_t startMs_ = 0;
    std::uint64_t shownMs_ = 0;
};
