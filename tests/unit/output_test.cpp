// What the output holds besides the samples, written out by hand: the WAVE
// header's exact bytes (in hex, from the RIFF, WAVE format and RF64 (EBU Tech
// 3306) layouts) and the live meter's line. The samples are copied bit for bit
// (values above 1 and -0.0 included), which the end-to-end runs check.
#include <cstdio>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "output/level_meter.h"
#include "output/wav_header.h"

namespace {

// Bytes as hex text: a difference shows where it is.
std::string hex(const unsigned char* bytes, std::size_t n) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < n; ++i) text.append(byte, std::snprintf(byte, sizeof byte, "%02x ", bytes[i]));
    return text;
}

// The chunk tags in hex, and the parts most headers share.
const std::string RIFF = "52 49 46 46 ", WAVE = "57 41 56 45 ", FMT = "66 6d 74 20 ", DATA = "64 61 74 61 ";
const std::string kZeros28 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ";
const std::string kJunk = WAVE + "4a 55 4e 4b 1c 00 00 00 " + kZeros28;
const std::string kStereo = FMT + "12 00 00 00 03 00 02 00 80 bb 00 00 00 dc 05 00 08 00 20 00 00 00 " + DATA;
const std::string kFloatGuid = "03 00 00 00 00 00 10 00 80 00 00 aa 00 38 9b 71 ";

// Rate, channels, data bytes, the header.
class WavHeader : public ::testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t, std::uint64_t, std::string>> {};

TEST_P(WavHeader, HasTheExactBytes) {
    const auto& [rate, channels, dataBytes, expected] = GetParam();
    unsigned char out[kWavHeaderMaxBytes];
    EXPECT_EQ(hex(out, buildWavHeader(out, rate, channels, dataBytes)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WavHeader,
    ::testing::Values(
        std::make_tuple(8000, 1, 0, RIFF + "4a 00 00 00 " + kJunk + FMT +
            "12 00 00 00 03 00 01 00 40 1f 00 00 00 7d 00 00 04 00 20 00 00 00 " + DATA + "00 00 00 00 "),
        std::make_tuple(44100, 6, 2400, RIFF + "c0 09 00 00 " + kJunk + FMT +
            "28 00 00 00 fe ff 06 00 44 ac 00 00 60 26 10 00 18 00 20 00 16 00 20 00 3f 00 00 00 " + kFloatGuid +
            DATA + "60 09 00 00 "),
        std::make_tuple(48000, 8, kWavStreaming, RIFF + "ff ff ff ff " + kJunk + FMT +
            "28 00 00 00 fe ff 08 00 80 bb 00 00 00 70 17 00 20 00 20 00 16 00 20 00 3f 06 00 00 " + kFloatGuid +
            DATA + "ff ff ff ff "),
        // The largest RIFF size that is not RF64's marker; then 5 GiB, where JUNK becomes ds64.
        std::make_tuple(48000, 2, 0xFFFFFFB4, RIFF + "fe ff ff ff " + kJunk + kStereo + "b4 ff ff ff "),
        std::make_tuple(48000, 2, 0x140000000, "52 46 36 34 ff ff ff ff " + WAVE + "64 73 36 34 1c 00 00 00 "
            "4a 00 00 40 01 00 00 00 00 00 00 40 01 00 00 00 00 00 00 28 00 00 00 00 00 00 00 00 " + kStereo +
            "ff ff ff ff ")));

class ChannelMask : public ::testing::TestWithParam<std::pair<std::uint32_t, std::uint32_t>> {};

TEST_P(ChannelMask, IsTheStandardLayout) {
    unsigned char out[kWavHeaderMaxBytes];
    ASSERT_EQ(buildWavHeader(out, 48000, GetParam().first, 0), kWavHeaderMaxBytes);
    EXPECT_EQ(out[76] | out[77] << 8 | out[78] << 16 | out[79] << 24, static_cast<int>(GetParam().second));
}

// FL FR FC; quad; FL FR FC BL BR; 6.1 with a back centre.
INSTANTIATE_TEST_SUITE_P(Masks, ChannelMask,
                         ::testing::Values(std::make_pair(3u, 0x7u), std::make_pair(4u, 0x33u),
                                           std::make_pair(5u, 0x37u), std::make_pair(7u, 0x70Fu)));

std::string lineOf(LevelMeter& meter, std::uint64_t nowMs) {
    char out[LevelMeter::kLineBytes];
    return std::string(out, meter.line(out, nowMs));
}

TEST(LevelMeter, ShowsTimeBytesAndEachChannelsPeakSinceTheLastLineFourTimesASecond) {
    LevelMeter meter;
    meter.start(2, 5000);
    EXPECT_FALSE(meter.due(5249));
    EXPECT_TRUE(meter.due(5250));
    const float first[] = {0.5f, -1.0f, -0.25f, 0.125f};
    meter.track(first, 4);
    meter.count(3 * 1024 * 1024 / 2);
    EXPECT_EQ(lineOf(meter, 5000 + 3723999), "01:02:03       1.5 MiB   -6.0   0.0 dBFS");
    EXPECT_FALSE(meter.due(5000 + 3724248));
    // The peaks start over with each line; silence reads as -inf.
    const float second[] = {0.0f, 2.0f, 0.0f, -0.001f};
    meter.track(second, 4);
    EXPECT_EQ(lineOf(meter, 5000 + 3724250), "01:02:04       1.5 MiB   -inf   6.0 dBFS");
    EXPECT_EQ(lineOf(meter, 5000 + 3724500), "01:02:04       1.5 MiB   -inf  -inf dBFS");
    // Eight channels, ten hours at the highest rate, still on a console line.
    LevelMeter eight;
    eight.start(8, 0);
    const float frame[8] = {1, 0.5f, 0.25f, 0.1f, 0.01f, 0.001f, 0.0001f, 0};
    eight.track(frame, 8);
    eight.count(10ull * 3600 * 192000 * 8 * 4);
    EXPECT_EQ(lineOf(eight, 36000000), "10:00:00  210937.5 MiB    0.0  -6.0 -12.0 -20.0 -40.0 -60.0 -80.0  -inf dBFS");
}

}  // namespace
