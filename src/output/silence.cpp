#include "output/silence.h"

#include "output/output_stream.h"

namespace {
constexpr std::uint32_t kChunksPerSecond = 10;
}

Silence::Silence(std::uint32_t sampleRate, std::uint32_t channels)
    : channels_(channels),
      chunkFrames_(sampleRate / kChunksPerSecond),
      zeros_(static_cast<std::size_t>(sampleRate / kChunksPerSecond) * channels, 0.0f) {}

bool Silence::writeChunk(std::uint64_t frames) const {
    return writeAll(zeros_.data(), static_cast<std::size_t>(frames) * channels_ * sizeof(float));
}
