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

TEST(WritePacket, WritesTheConvertedSamplesAndLeavesThemInTheBuffer) {
    // 16-bit stereo to three channels: conversion and channel mapping on the way.
    const std::vector<BYTE> data = {0x00, 0xC0, 0x00, 0x40, 0x00, 0x80, 0xFF, 0x7F};
    const std::vector<float> expected = {-0.5f, 0.5f, 0.5f, -1.0f, 32767.0f / 32768.0f, 32767.0f / 32768.0f};
    std::vector<float> buffer;
    StreamCapture capture;
    EXPECT_TRUE(writePacket(data.data(), 2, formatOf(WAVE_FORMAT_PCM, 2, 16), 3, buffer));
    capture.finish();
    EXPECT_EQ(buffer, expected);
    ASSERT_EQ(capture.out().size(), expected.size() * sizeof(float));
    EXPECT_EQ(std::memcmp(capture.out().data(), expected.data(), capture.out().size()), 0);
}

TEST(WritePacket, BufferGrowsByHalfOrToTheNeedNeverShrinksAndEmptiesOnRefusal) {
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
    ASSERT_TRUE(writePacket(nullptr, 0, format, 1, buffer));
    EXPECT_TRUE(buffer.empty());
    // A format a read would leave the packet by is refused with nothing written and nothing left.
    ASSERT_TRUE(writePacket(data.data(), 10, format, 1, buffer));
    EXPECT_FALSE(writePacket(data.data(), 3, formatOf(WAVE_FORMAT_PCM, 2, 24, 4), 2, buffer));
    EXPECT_TRUE(buffer.empty());
    capture.finish();
    EXPECT_EQ(capture.out().size(), (120u + 400u + 10u + 10u) * 4u);
}

}  // namespace
