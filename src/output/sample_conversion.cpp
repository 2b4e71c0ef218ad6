#include "output/sample_conversion.h"

#include <cstring>

#include "output/simd_kernels.h"
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

// Contiguous samples, one per output sample: the common case of a stream the
// platform already converted. Written as flat loops the compiler vectorises.
void convertInt16(const BYTE* data, std::size_t n, float* out) {
    for (std::size_t i = 0; i < n; ++i) {
        std::int16_t v;
        std::memcpy(&v, data + 2 * i, sizeof v);
        out[i] = static_cast<float>(v) * (1.0f / 32768.0f);
    }
}

void convertInt32(const BYTE* data, std::size_t n, float* out) {
    for (std::size_t i = 0; i < n; ++i) {
        std::int32_t v;
        std::memcpy(&v, data + 4 * i, sizeof v);
        out[i] = static_cast<float>(v) * (1.0f / 2147483648.0f);
    }
}

// Four 3-byte samples are three 32-bit words. Each sample is gathered into the
// top 24 bits of a word; as an int32 that is the value times 256, exact in
// single precision, so scaling by 2^-31 gives the same float as the rule.
void convertInt24(const BYTE* data, std::size_t n, float* out) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        std::uint32_t w[3];
        std::memcpy(w, data + 3 * i, sizeof w);
        const std::uint32_t t0 = w[0] << 8;
        const std::uint32_t t1 = ((w[0] >> 16) & 0xFF00u) | (w[1] << 16);
        const std::uint32_t t2 = ((w[1] >> 8) & 0xFFFF00u) | (w[2] << 24);
        const std::uint32_t t3 = w[2] & 0xFFFFFF00u;
        constexpr float kScale = 1.0f / 2147483648.0f;
        out[i] = static_cast<float>(static_cast<std::int32_t>(t0)) * kScale;
        out[i + 1] = static_cast<float>(static_cast<std::int32_t>(t1)) * kScale;
        out[i + 2] = static_cast<float>(static_cast<std::int32_t>(t2)) * kScale;
        out[i + 3] = static_cast<float>(static_cast<std::int32_t>(t3)) * kScale;
    }
    for (; i < n; ++i) out[i] = read<SampleKind::Int24>(data + 3 * i);
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

void convertSamplesGeneral(const BYTE* data, std::uint32_t frames, const SourceLayout& layout,
                           std::uint32_t outChannels, float* out) {
    switch (layout.kind) {
        case SampleKind::Float32: return convertFrames<SampleKind::Float32>(data, frames, layout, outChannels, out);
        case SampleKind::Int16: return convertFrames<SampleKind::Int16>(data, frames, layout, outChannels, out);
        case SampleKind::Int24: return convertFrames<SampleKind::Int24>(data, frames, layout, outChannels, out);
        case SampleKind::Int32: return convertFrames<SampleKind::Int32>(data, frames, layout, outChannels, out);
        case SampleKind::Unsupported:
            return convertFrames<SampleKind::Unsupported>(data, frames, layout, outChannels, out);
    }
}

void convertSamplesWith(ConversionPath path, const BYTE* data, std::uint32_t frames, const SourceLayout& layout,
                        std::uint32_t outChannels, float* out) {
    const bool packed = layout.channels == outChannels && layout.bytesPerSample == widthOf(layout.kind) &&
                        layout.stride == layout.bytesPerSample * layout.channels;
    const std::size_t n = static_cast<std::size_t>(frames) * outChannels;
    if (path != ConversionPath::General && packed && n != 0) {
        const simd::Level level = path == ConversionPath::Best         ? simd::best()
                                  : path == ConversionPath::Avx512Vbmi ? simd::Level::Avx512Vbmi
                                  : path == ConversionPath::Avx512     ? simd::Level::Avx512
                                  : path == ConversionPath::Avx2       ? simd::Level::Avx2
                                                                       : simd::Level::None;
        const bool vector = level != simd::Level::None;
        switch (layout.kind) {
            case SampleKind::Float32: std::memcpy(out, data, n * sizeof(float)); return;
            case SampleKind::Int16: vector ? simd::int16ToFloat(level, data, n, out) : convertInt16(data, n, out); return;
            case SampleKind::Int24: vector ? simd::int24ToFloat(level, data, n, out) : convertInt24(data, n, out); return;
            case SampleKind::Int32: vector ? simd::int32ToFloat(level, data, n, out) : convertInt32(data, n, out); return;
            case SampleKind::Unsupported: break;
        }
    }
    convertSamplesGeneral(data, frames, layout, outChannels, out);
}

void convertSamples(const BYTE* data, std::uint32_t frames, const SourceLayout& layout, std::uint32_t outChannels,
                    float* out) {
    convertSamplesWith(ConversionPath::Best, data, frames, layout, outChannels, out);
}
