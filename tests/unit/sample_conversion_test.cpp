// The fast paths must produce exactly the bytes of the sample-by-sample rule.
#include "output/sample_conversion.h"
#include "output/simd_kernels.h"

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

WAVEFORMATEX packed(WORD tag, WORD bits, WORD channels) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.wBitsPerSample = bits;
    f.nChannels = channels;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    return f;
}

// Random bytes, with the integer edge values planted at the front of the packet.
std::vector<BYTE> randomPacket(std::mt19937& rng, std::size_t bytes, unsigned width) {
    std::vector<BYTE> data(bytes);
    for (BYTE& b : data) b = static_cast<BYTE>(rng());
    static const std::uint32_t kEdges[] = {0x00000000, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0x00800000,
                                           0x007FFFFF, 0x00FFFFFF, 0x00008000, 0x00007FFF, 0x00000001};
    std::size_t at = 0;
    for (std::uint32_t edge : kEdges) {
        if (at + width > bytes) break;
        for (unsigned k = 0; k < width; ++k) data[at + k] = static_cast<BYTE>(edge >> (8 * k));
        at += width;
    }
    return data;
}

// Every path this processor can run; the vector ones where it has them.
std::vector<ConversionPath> fastPaths() {
    std::vector<ConversionPath> paths = {ConversionPath::Best, ConversionPath::Portable};
    if (simd::best() >= simd::Level::Avx2) paths.push_back(ConversionPath::Avx2);
    if (simd::best() >= simd::Level::Avx512) paths.push_back(ConversionPath::Avx512);
    if (simd::best() >= simd::Level::Avx512Vbmi) paths.push_back(ConversionPath::Avx512Vbmi);
    return paths;
}

TEST(SampleConversion, FastPathsMatchTheGeneralRuleBitForBit) {
    std::mt19937 rng(20348);
    const WAVEFORMATEX formats[] = {
        packed(WAVE_FORMAT_IEEE_FLOAT, 32, 2), packed(WAVE_FORMAT_PCM, 16, 2), packed(WAVE_FORMAT_PCM, 24, 2),
        packed(WAVE_FORMAT_PCM, 32, 2),        packed(WAVE_FORMAT_PCM, 24, 1), packed(WAVE_FORMAT_PCM, 24, 3),
        packed(WAVE_FORMAT_PCM, 16, 8),        packed(WAVE_FORMAT_PCM, 24, 5), packed(WAVE_FORMAT_IEEE_FLOAT, 32, 8),
    };
    for (const WAVEFORMATEX& format : formats) {
        const SourceLayout layout = describeSource(format);
        ASSERT_TRUE(layout.readable);
        for (std::uint32_t frames = 0; frames < 90; ++frames) {
            const std::vector<BYTE> data =
                randomPacket(rng, static_cast<std::size_t>(frames) * format.nBlockAlign, format.wBitsPerSample / 8);
            const std::size_t n = static_cast<std::size_t>(frames) * format.nChannels;
            std::vector<float> general(n + 1, 7.0f);  // one guard sample
            convertSamplesGeneral(data.data(), frames, layout, format.nChannels, general.data());
            for (const ConversionPath path : fastPaths()) {
                // Every output alignment the vector kernels may have to peel for.
                for (std::size_t shift = 0; shift < 16; ++shift) {
                    std::vector<float> fast(n + 17, 7.0f);
                    convertSamplesWith(path, data.data(), frames, layout, format.nChannels, fast.data() + shift);
                    ASSERT_EQ(std::memcmp(fast.data() + shift, general.data(), (n + 1) * sizeof(float)), 0)
                        << "path " << static_cast<int>(path) << " bits " << format.wBitsPerSample << " channels "
                        << format.nChannels << " frames " << frames << " shift " << shift;
                }
            }
        }
    }
}

TEST(SampleConversion, EdgeValuesOfTheFastPaths) {
    struct Case {
        WORD bits;
        std::vector<BYTE> bytes;
        std::vector<float> expected;
    };
    const Case cases[] = {
        {16, {0x00, 0x80, 0xFF, 0x7F, 0x00, 0xC0, 0x00, 0x00}, {-1.0f, 32767.0f / 32768.0f, -0.5f, 0.0f}},
        {24,
         {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00},
         {-1.0f, 8388607.0f / 8388608.0f, -1.0f / 8388608.0f, 1.0f / 8388608.0f}},
        {32, {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}, {-1.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        const WAVEFORMATEX format = packed(WAVE_FORMAT_PCM, c.bits, 1);
        std::vector<float> out(c.expected.size());
        convertSamples(c.bytes.data(), static_cast<std::uint32_t>(out.size()), describeSource(format), 1, out.data());
        EXPECT_EQ(out, c.expected) << c.bits;
    }
}

}  // namespace
