#include "output/sample_conversion.h"

#include <cstring>

#include "platform/audio_ids.h"

namespace {

SampleKind kindOf(const WAVEFORMATEX& format) {
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

constexpr std::size_t widthOf(SampleKind kind) {
    switch (kind) {
        case SampleKind::Float32: return 4;
        case SampleKind::Int16: return 2;
        case SampleKind::Int24: return 3;
        case SampleKind::Int32: return 4;
        case SampleKind::Unsupported: return 0;
    }
    return 0;
}

// The integer rules convert to single precision first (rounding to nearest)
// and then scale by a power of two, which is exact.
template <SampleKind Kind>
inline float read(const BYTE* p) {
    if constexpr (Kind == SampleKind::Float32) {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else if constexpr (Kind == SampleKind::Int16) {
        std::int16_t v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<float>(v) * (1.0f / 32768.0f);
    } else if constexpr (Kind == SampleKind::Int24) {
        const std::uint32_t u = static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                                static_cast<std::uint32_t>(p[2]) << 24;
        // The 24-bit value sits in the top bits; the arithmetic shift extends bit 23.
        return static_cast<float>(static_cast<std::int32_t>(u) >> 8) * (1.0f / 8388608.0f);
    } else if constexpr (Kind == SampleKind::Int32) {
        std::int32_t v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<float>(v) * (1.0f / 2147483648.0f);
    } else {
        (void)p;
        return 0.0f;
    }
}

template <SampleKind Kind>
void convertFrames(const BYTE* data, std::size_t frames, const SourceLayout& layout, std::size_t outChannels,
                   float* out) {
    const std::size_t direct = outChannels < layout.channels ? outChannels : layout.channels;
    for (std::size_t i = 0; i < frames; ++i) {
        const BYTE* frame = data + i * layout.stride;
        std::size_t j = 0;
        for (; j < direct; ++j) *out++ = read<Kind>(frame + j * layout.bytesPerSample);
        if (j < outChannels) {
            const float last = read<Kind>(frame + (layout.channels - 1) * layout.bytesPerSample);
            for (; j < outChannels; ++j) *out++ = last;
        }
    }
}

}  // namespace

SourceLayout describeSource(const WAVEFORMATEX& format) {
    SourceLayout layout;
    layout.kind = kindOf(format);
    layout.channels = format.nChannels;
    layout.stride = format.nBlockAlign;
    layout.bytesPerSample = layout.channels == 0 ? 4 : layout.stride / layout.channels;
    layout.readable = layout.channels != 0 && widthOf(layout.kind) <= layout.bytesPerSample;
    return layout;
}

void convertSamples(const BYTE* data, std::uint32_t frames, const SourceLayout& layout, std::uint32_t outChannels,
                    float* out) {
    switch (layout.kind) {
        case SampleKind::Float32:
            // An empty packet may come with null pointers, which memcpy must never see.
            if (layout.channels == outChannels && layout.stride == outChannels * sizeof(float) && frames != 0) {
                std::memcpy(out, data, static_cast<std::size_t>(frames) * layout.stride);
                return;
            }
            return convertFrames<SampleKind::Float32>(data, frames, layout, outChannels, out);
        case SampleKind::Int16: return convertFrames<SampleKind::Int16>(data, frames, layout, outChannels, out);
        case SampleKind::Int24: return convertFrames<SampleKind::Int24>(data, frames, layout, outChannels, out);
        case SampleKind::Int32: return convertFrames<SampleKind::Int32>(data, frames, layout, outChannels, out);
        case SampleKind::Unsupported:
            return convertFrames<SampleKind::Unsupported>(data, frames, layout, outChannels, out);
    }
}
