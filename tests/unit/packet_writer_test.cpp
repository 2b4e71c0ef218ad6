// The writer end to end: what reaches descriptor 1, what stays in the buffer,
// and how the buffer grows.
#include "output/packet_writer.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

WAVEFORMATEX formatOf(WORD tag, WORD channels, WORD bits, WORD blockAlign = 0) {
    WAVEFORMATEX f{};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = 48000;
    f.wBitsPerSample = bits;
    f.nBlockAlign = blockAlign != 0 ? blockAlign : static_cast<WORD>(channels * bits / 8);
    return f;
}

struct Written {
    bool ok = false;
    std::vector<unsigned char> out;  // the bytes that reached descriptor 1
    std::vector<float> buffer;       // what writePacket left in sampleBuffer
};

Written write(const std::vector<BYTE>& data, std::uint32_t frames, const WAVEFORMATEX& format,
              std::uint32_t outChannels) {
    Written w;
    StreamCapture capture;
    w.ok = writePacket(data.data(), frames, format, outChannels, w.buffer);
    capture.finish();
    w.out = capture.out();
    return w;
}

TEST(WritePacket, WritesTheConvertedSamplesAndLeavesThemInTheBuffer) {
    // 16-bit stereo to three channels: conversion and channel mapping on the way.
    const std::vector<BYTE> data = {0x00, 0xC0, 0x00, 0x40, 0x00, 0x80, 0xFF, 0x7F};
    const Written w = write(data, 2, formatOf(WAVE_FORMAT_PCM, 2, 16), 3);
    const std::vector<float> expected = {-0.5f, 0.5f, 0.5f, -1.0f, 32767.0f / 32768.0f, 32767.0f / 32768.0f};
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.buffer, expected);
    ASSERT_EQ(w.out.size(), expected.size() * sizeof(float));
    EXPECT_EQ(std::memcmp(w.out.data(), expected.data(), w.out.size()), 0);
}

TEST(WritePacket, ZeroFramesWritesNothingAndSucceeds) {
    const Written w = write({}, 0, formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), 2);
    EXPECT_TRUE(w.ok);
    EXPECT_TRUE(w.out.empty());
    EXPECT_TRUE(w.buffer.empty());
}

class WritePacketRefuses : public ::testing::TestWithParam<WAVEFORMATEX> {};

TEST_P(WritePacketRefuses, UnreadableFormatConvertsAndWritesNothing) {
    // Exactly frames * nBlockAlign bytes, so that any over-read is caught by
    // the address sanitizer.
    const std::uint32_t frames = 3;
    const std::vector<BYTE> data(static_cast<std::size_t>(frames) * GetParam().nBlockAlign, 0x11);
    const Written w = write(data, frames, GetParam(), 2);
    EXPECT_FALSE(w.ok);
    EXPECT_TRUE(w.out.empty());
    EXPECT_TRUE(w.buffer.empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, WritePacketRefuses,
                         ::testing::Values(formatOf(WAVE_FORMAT_IEEE_FLOAT, 0, 32, 4),
                                           formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32, 4),
                                           formatOf(WAVE_FORMAT_PCM, 2, 24, 4)));

TEST(WritePacket, BufferGrowsByHalfOrToTheNeedAndNeverShrinks) {
    StreamCapture capture;
    const WAVEFORMATEX format = formatOf(WAVE_FORMAT_IEEE_FLOAT, 1, 32);
    const std::vector<BYTE> data(4 * 1000, 0);
    std::vector<float> buffer;
    buffer.reserve(100);

    ASSERT_TRUE(writePacket(data.data(), 120, format, 1, buffer));
    EXPECT_EQ(buffer.capacity(), 150u);  // 100 + 50 beats the 120 needed
    ASSERT_TRUE(writePacket(data.data(), 400, format, 1, buffer));
    EXPECT_EQ(buffer.capacity(), 400u);  // the need beats 150 + 75
    ASSERT_TRUE(writePacket(data.data(), 10, format, 1, buffer));
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.capacity(), 400u);
    capture.finish();
    EXPECT_EQ(capture.out().size(), (120u + 400u + 10u) * 4u);
}

}  // namespace
