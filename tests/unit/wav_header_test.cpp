// The WAVE header's exact bytes, written out by hand from the RIFF, WAVE
// format and RF64 (EBU Tech 3306) layouts.
#include "output/wav_header.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// "'RIFF' 4a 00 00 00 0*28": a four-character tag ('_' for a space), hex
// bytes, or N zero bytes; returned as hex so that a mismatch reads.
std::string hex(const std::vector<unsigned char>& bytes) {
    std::string text;
    for (unsigned char b : bytes) text += "0123456789abcdef"[b >> 4] + std::string(1, "0123456789abcdef"[b & 15]) + " ";
    return text;
}

std::string bytes(const std::string& text) {
    std::vector<unsigned char> out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        if (token[0] == '\'') {
            for (int i = 1; i < 5; ++i) out.push_back(token[i] == '_' ? ' ' : token[i]);
        } else if (token.rfind("0*", 0) == 0) {
            out.insert(out.end(), std::stoul(token.substr(2)), 0);
        } else {
            out.push_back(static_cast<unsigned char>(std::stoul(token, nullptr, 16)));
        }
    }
    return hex(out);
}

const std::string kJunk = " 'JUNK' 1c 00 00 00 0*28 ";
const std::string kFloatGuid = " 03 00 00 00 00 00 10 00 80 00 00 aa 00 38 9b 71 ";

struct Case {
    const char* label;
    std::uint32_t rate;
    std::uint32_t channels;
    std::uint64_t dataBytes;
    std::string expected;
};

class WavHeader : public ::testing::TestWithParam<Case> {};

TEST_P(WavHeader, HasTheExactBytes) {
    const Case& c = GetParam();
    unsigned char out[kWavHeaderMaxBytes];
    const std::size_t n = buildWavHeader(out, c.rate, c.channels, c.dataBytes);
    EXPECT_EQ(hex(std::vector<unsigned char>(out, out + n)), bytes(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WavHeader,
    ::testing::Values(
        Case{"mono_empty", 8000, 1, 0,
             "'RIFF' 4a 00 00 00 'WAVE'" + kJunk +
                 "'fmt_' 12 00 00 00 03 00 01 00 40 1f 00 00 00 7d 00 00 04 00 20 00 00 00 'data' 00 00 00 00"},
        Case{"stereo_streaming", 48000, 2, kWavStreaming,
             "'RIFF' ff ff ff ff 'WAVE'" + kJunk +
                 "'fmt_' 12 00 00 00 03 00 02 00 80 bb 00 00 00 dc 05 00 08 00 20 00 00 00 'data' ff ff ff ff"},
        Case{"surround51", 44100, 6, 2400,
             "'RIFF' c0 09 00 00 'WAVE'" + kJunk +
                 "'fmt_' 28 00 00 00 fe ff 06 00 44 ac 00 00 60 26 10 00 18 00 20 00 16 00 20 00 3f 00 00 00" +
                 kFloatGuid + "'data' 60 09 00 00"},
        Case{"surround71_streaming", 48000, 8, kWavStreaming,
             "'RIFF' ff ff ff ff 'WAVE'" + kJunk +
                 "'fmt_' 28 00 00 00 fe ff 08 00 80 bb 00 00 00 70 17 00 20 00 20 00 16 00 20 00 3f 06 00 00" +
                 kFloatGuid + "'data' ff ff ff ff"},
        // The largest RIFF size that is not RF64's marker stays RIFF.
        Case{"largest_riff", 48000, 2, 0xFFFFFFB4,
             "'RIFF' fe ff ff ff 'WAVE'" + kJunk +
                 "'fmt_' 12 00 00 00 03 00 02 00 80 bb 00 00 00 dc 05 00 08 00 20 00 00 00 'data' b4 ff ff ff"},
        // 5 GiB: the JUNK chunk becomes ds64 with the 64-bit sizes.
        Case{"rf64", 48000, 2, 0x140000000,
             "'RF64' ff ff ff ff 'WAVE' 'ds64' 1c 00 00 00 4a 00 00 40 01 00 00 00 00 00 00 40 01 00 00 00"
             " 00 00 00 28 00 00 00 00 00 00 00 00 "
             "'fmt_' 12 00 00 00 03 00 02 00 80 bb 00 00 00 dc 05 00 08 00 20 00 00 00 'data' ff ff ff ff"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.label); });

class ChannelMask : public ::testing::TestWithParam<std::pair<std::uint32_t, std::uint32_t>> {};

TEST_P(ChannelMask, IsTheStandardLayout) {
    unsigned char out[kWavHeaderMaxBytes];
    ASSERT_EQ(buildWavHeader(out, 48000, GetParam().first, 0), kWavHeaderMaxBytes);
    const std::uint32_t mask = out[76] | out[77] << 8 | out[78] << 16 | static_cast<std::uint32_t>(out[79]) << 24;
    EXPECT_EQ(mask, GetParam().second);
}

// FL FR FC; quad; FL FR FC BL BR; 6.1 with a back centre.
INSTANTIATE_TEST_SUITE_P(Masks, ChannelMask,
                         ::testing::Values(std::make_pair(3u, 0x7u), std::make_pair(4u, 0x33u),
                                           std::make_pair(5u, 0x37u), std::make_pair(7u, 0x70Fu)));

}  // namespace
