// Conversion of one packet from a source format the platform can describe into
// interleaved 32-bit float. Pure: no platform calls, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

enum class SampleKind { Float32, Int16, Int24, Int32, Unsupported };

struct SourceLayout {
    SampleKind kind = SampleKind::Unsupported;
    std::size_t channels = 0;
    std::size_t stride = 0;          // bytes per frame
    std::size_t bytesPerSample = 0;  // each channel's slot in the frame
    // False when a sample read would run past its slot, and so for the last
    // frame past the packet, or when there is no channel to read.
    bool readable = false;
};

SourceLayout describeSource(const WAVEFORMATEX& format);

// Writes frames * outChannels samples to out. The layout must be readable.
// Source channels beyond outChannels are dropped; output channels beyond the
// source's repeat its last channel. Packed float with outChannels channels,
// the only format the capture asks the platform for, is copied as it is.
void convertSamples(const BYTE* data, std::uint32_t frames, const SourceLayout& layout, std::uint32_t outChannels,
                    float* out);
