// The format the capture asks the platform for, packed float at its own channel
// count, is copied bit for bit and unclamped, an empty packet included. Other
// formats never reach a capture (the platform converts); the fuzzer keeps the
// general per-sample rule inside the packet.
#include "output/sample_conversion.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace {

class ConvertSamples : public ::testing::TestWithParam<std::vector<float>> {};

TEST_P(ConvertSamples, CopiesPackedFloatExactly) {
    const std::vector<float>& in = GetParam();
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    f.Format.nChannels = 2;
    f.Format.wBitsPerSample = 32;
    f.Format.nBlockAlign = 8;
    const SourceLayout layout = describeSource(f.Format);
    ASSERT_TRUE(layout.readable);
    std::vector<float> out(in.size() + 1, 7.0f);  // one guard sample
    // An empty packet comes as a null pointer.
    convertSamples(reinterpret_cast<const BYTE*>(in.data()), static_cast<std::uint32_t>(in.size() / 2), layout, 2,
                   out.data());
    EXPECT_EQ(out.back(), 7.0f) << "wrote past frames x channels";
    // Bit for bit: -0.0 and 0.0 differ in the stream.
    EXPECT_TRUE(in.empty() || std::memcmp(out.data(), in.data(), in.size() * sizeof(float)) == 0)
        << ::testing::PrintToString(out);
}

INSTANTIATE_TEST_SUITE_P(Packets, ConvertSamples,
                         ::testing::Values(std::vector<float>{0.5f, -0.0f, 1.5f, -3.0f, 0.0f, 1e-38f},
                                           std::vector<float>{}));

}  // namespace
