// Each source format the writer accepts, sample by sample, and the formats it
// must refuse because a read would leave the packet.
#include "output/sample_conversion.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio_ids.h"

namespace {

WAVEFORMATEXTENSIBLE formatOf(WORD tag, WORD channels, WORD bits, WORD blockAlign = 0) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = tag;
    f.Format.nChannels = channels;
    f.Format.wBitsPerSample = bits;
    f.Format.nBlockAlign = blockAlign != 0 ? blockAlign : static_cast<WORD>(channels * bits / 8);
    return f;
}

WAVEFORMATEXTENSIBLE extensible(WORD bits, const GUID& subFormat) {
    WAVEFORMATEXTENSIBLE f = formatOf(WAVE_FORMAT_EXTENSIBLE, 1, bits);
    f.SubFormat = subFormat;
    return f;
}

std::vector<BYTE> floatBytes(const std::vector<float>& values) {
    std::vector<BYTE> bytes(values.size() * sizeof(float));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

struct Case {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
    std::vector<BYTE> data;
    std::uint32_t frames;
    std::uint32_t outChannels;
    std::vector<float> expected;
};

class ConvertSamples : public ::testing::TestWithParam<Case> {};

TEST_P(ConvertSamples, GivesExactlyTheExpectedSamples) {
    const Case& c = GetParam();
    const SourceLayout layout = describeSource(c.format.Format);
    ASSERT_TRUE(layout.readable);
    std::vector<float> out(c.expected.size() + 1, 7.0f);  // one guard sample
    convertSamples(c.data.data(), c.frames, layout, c.outChannels, out.data());
    EXPECT_EQ(out.back(), 7.0f) << "wrote past frames x channels";
    out.pop_back();
    ASSERT_EQ(out.size(), c.expected.size());
    // Bit for bit: -0.0 and 0.0 differ in the stream.
    if (!out.empty()) {
        EXPECT_EQ(std::memcmp(out.data(), c.expected.data(), out.size() * sizeof(float)), 0)
            << ::testing::PrintToString(out);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ConvertSamples,
    ::testing::Values(
        Case{"FloatUnchangedAndUnclamped", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32),
             floatBytes({0.5f, -0.0f, 1.5f, -3.0f, 0.0f, 1e-38f}), 3, 2, {0.5f, -0.0f, 1.5f, -3.0f, 0.0f, 1e-38f}},
        Case{"Int16", formatOf(WAVE_FORMAT_PCM, 1, 16), {0x00, 0xC0, 0x00, 0x80, 0xFF, 0x7F}, 3, 1,
             {-0.5f, -1.0f, 32767.0f / 32768.0f}},
        Case{"Int24SignExtended", formatOf(WAVE_FORMAT_PCM, 1, 24),
             {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}, 3, 1,
             {-1.0f, 8388607.0f / 8388608.0f, -1.0f / 8388608.0f}},
        Case{"Int32MaxRoundsToOne", formatOf(WAVE_FORMAT_PCM, 1, 32),
             {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x00}, 3, 1,
             {-1.0f, 1.0f, 1.0f / 2147483648.0f}},
        Case{"EightBitIsSilenceOfTheRightLength", formatOf(WAVE_FORMAT_PCM, 2, 8), {1, 2, 3, 4, 5, 6}, 3, 2,
             std::vector<float>(6, 0.0f)},
        Case{"ExtensibleFloatSubFormat", extensible(32, ids::kSubtypeIeeeFloat), floatBytes({0.75f}), 1, 1, {0.75f}},
        Case{"ExtensibleOtherSubFormatTakesTheBitsRule", extensible(16, ids::kIUnknown), {0x00, 0xC0}, 1, 1, {-0.5f}},
        Case{"SixChannelsToTwoDropsTheRest", formatOf(WAVE_FORMAT_PCM, 6, 16),
             {0, 4, 0, 8, 0, 12, 0, 16, 0, 20, 0, 24, 0, 28, 0, 32, 0, 36, 0, 40, 0, 44, 0, 48}, 2, 2,
             {1 / 32.0f, 2 / 32.0f, 7 / 32.0f, 8 / 32.0f}},
        Case{"MonoFillsEveryChannel", formatOf(WAVE_FORMAT_IEEE_FLOAT, 1, 32), floatBytes({0.1f, 0.2f}), 2, 3,
             {0.1f, 0.1f, 0.1f, 0.2f, 0.2f, 0.2f}},
        Case{"ExtraChannelsRepeatTheLast", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), floatBytes({0.1f, 0.2f}), 1, 4,
             {0.1f, 0.2f, 0.2f, 0.2f}},
        Case{"WideFloatSlotsAreReadBySlot", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32, 16),
             floatBytes({0.1f, 9.0f, 0.2f, 9.0f, 0.3f, 9.0f, 0.4f, 9.0f}), 2, 2, {0.1f, 0.2f, 0.3f, 0.4f}},
        Case{"ZeroFrames", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), {}, 0, 2, {}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct Refused {
    const char* name;
    WAVEFORMATEXTENSIBLE format;
};

class UnreadableFormat : public ::testing::TestWithParam<Refused> {};

TEST_P(UnreadableFormat, IsNotReadable) { EXPECT_FALSE(describeSource(GetParam().format.Format).readable); }

INSTANTIATE_TEST_SUITE_P(Formats, UnreadableFormat,
                         ::testing::Values(Refused{"NoChannels", formatOf(WAVE_FORMAT_IEEE_FLOAT, 0, 32, 4)},
                                           Refused{"FloatInTwoByteSlots", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32, 4)},
                                           Refused{"Int24InTwoByteSlots", formatOf(WAVE_FORMAT_PCM, 2, 24, 4)},
                                           Refused{"Int16InEmptySlots", formatOf(WAVE_FORMAT_PCM, 2, 16, 1)}),
                         [](const ::testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

}  // namespace
