// Which tones a capture holds: Goertzel filters over interleaved float32 samples.
#pragma once

#include <cstddef>
#include <vector>

struct Capture {
    std::vector<float> samples;  // interleaved
    unsigned channels = 2;
    unsigned rate = 48000;

    static Capture of(const std::vector<unsigned char>& bytes, unsigned channels, unsigned rate);
    std::size_t frames() const { return samples.size() / channels; }
    double seconds() const { return static_cast<double>(frames()) / rate; }
    // Frames [from, from + count) as a capture of its own (clipped to the end).
    Capture slice(double fromSeconds, double seconds) const;

    // Amplitude of the sine at `hz` in one channel (a full-scale sine of
    // amplitude A gives A), over the whole capture.
    double level(unsigned channel, double hz) const;
    // Root mean square of one channel.
    double rms(unsigned channel) const;
};
