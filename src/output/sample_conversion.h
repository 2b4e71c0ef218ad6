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
// source's repeat its last channel.
void convertSamples(const BYTE* data, std::uint32_t frames, const SourceLayout& layout, std::uint32_t outChannels,
                    float* out);

// The same, sample by sample, with none of the fast paths; the reference the
// fast paths are tested against.
void convertSamplesGeneral(const BYTE* data, std::uint32_t frames, const SourceLayout& layout,
                           std::uint32_t outChannels, float* out);

// Which implementation converts a packet that qualifies for a fast path, so
// tests can hold each one against the general rule on any processor.
enum class ConversionPath {
    Best,        // the widest vector kernels the processor has, else Portable
    Avx512Vbmi,  // this and the next two only where the processor has them
    Avx512,
    Avx2,
    Portable,  // plain loops the compiler may vectorise
    General,
};
void convertSamplesWith(ConversionPath path, const BYTE* data, std::uint32_t frames, const SourceLayout& layout,
                        std::uint32_t outChannels, float* out);
