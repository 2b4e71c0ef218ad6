#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

// Converts one packet of `frames` frames in sourceFormat into interleaved
// 32-bit float with outChannels channels, leaves exactly those samples in
// sampleBuffer and writes them to descriptor 1. True when every byte was written.
// A format the packet cannot be read safely in (no channels, or samples wider
// than their slot in the frame) converts nothing, writes nothing and is false.
bool writePacket(const BYTE* data, std::uint32_t frames, const WAVEFORMATEX& sourceFormat, std::uint32_t outChannels,
                 std::vector<float>& sampleBuffer);

// Resizes to `samples`, growing capacity by at least half when it must grow, so
// that a stream of slowly growing packets reallocates rarely.
void resizeSamples(std::vector<float>& sampleBuffer, std::size_t samples);
