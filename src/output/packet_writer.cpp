#include "output/packet_writer.h"

#include <cstddef>
#include <cstring>

#include "output/output_stream.h"
#include "platform/audio_ids.h"

namespace {

enum class SampleKind { Float32, Int16, Int24, Int32, Unsupported };

SampleKind sampleKind(const WAVEFORMATEX& format) {
    bool isFloat = false;
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        // The sub-format is read whatever cbSize claims: callers hand over a full
        // extensible record whenever the tag says so.
        const auto* record = reinterpret_cast<const BYTE*>(&format);
        isFloat = std::memcmp(record + offsetof(WAVEFORMATEXTENSIBLE, SubFormat), &ids::kSubtypeIeeeFloat,
                              sizeof(GUID)) == 0;
    } else {
        isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    }
    if (isFloat) return SampleKind::Float32;
    switch (format.wBitsPerSample) {
        case 16: return SampleKind::Int16;
        case 24: return SampleKind::Int24;
        case 32: return SampleKind::Int32;
        default: return SampleKind::Unsupported;
    }
}

std::size_t readWidth(SampleKind kind) {
    switch (kind) {
        case SampleKind::Float32: return 4;
        case SampleKind::Int16: return 2;
        case SampleKind::Int24: return 3;
        case SampleKind::Int32: return 4;
        case SampleKind::Unsupported: return 0;
    }
    return 0;
}

float convertSample(const BYTE* p, SampleKind kind) {
    switch (kind) {
        case SampleKind::Float32: {
            float v;
            std::memcpy(&v, p, sizeof v);
            return v;
        }
        case SampleKind::Int16: {
            const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
            return static_cast<float>(v) * (1.0f / 32768.0f);
        }
        case SampleKind::Int24: {
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16);
            const auto v = static_cast<std::int32_t>(u << 8) >> 8;  // sign-extend bit 23
            return static_cast<float>(v) * (1.0f / 8388608.0f);
        }
        case SampleKind::Int32: {
            const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                    (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
            return static_cast<float>(static_cast<std::int32_t>(u)) * (1.0f / 2147483648.0f);
        }
        case SampleKind::Unsupported: return 0.0f;
    }
    return 0.0f;
}

}  // namespace

void resizeSamples(std::vector<float>& sampleBuffer, std::size_t samples) {
    const std::size_t capacity = sampleBuffer.capacity();
    if (samples > capacity) {
        const std::size_t grown = capacity + capacity / 2;
        sampleBuffer.reserve(samples > grown ? samples : grown);
    }
    sampleBuffer.resize(samples);
}

bool writePacket(const BYTE* data, std::uint32_t frames, const WAVEFORMATEX& sourceFormat, std::uint32_t outChannels,
                 std::vector<float>& sampleBuffer) {
    const std::size_t srcChannels = sourceFormat.nChannels;
    const std::size_t stride = sourceFormat.nBlockAlign;
    const SampleKind kind = sampleKind(sourceFormat);
    const std::size_t bytesPerSample = srcChannels == 0 ? 4 : stride / srcChannels;
    if (srcChannels == 0 || readWidth(kind) > bytesPerSample) {
        sampleBuffer.clear();
        return false;
    }

    const std::size_t outCount = static_cast<std::size_t>(frames) * outChannels;
    resizeSamples(sampleBuffer, outCount);
    float* out = sampleBuffer.data();
    for (std::size_t i = 0; i < frames; ++i) {
        const BYTE* frame = data + i * stride;
        for (std::size_t j = 0; j < outChannels; ++j) {
            const std::size_t source = j < srcChannels ? j : srcChannels - 1;
            *out++ = convertSample(frame + bytesPerSample * source, kind);
        }
    }
    return writeAll(sampleBuffer.data(), outCount * sizeof(float));
}
