#include "output/packet_writer.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/audio_ids.h"
#include "run_harness.h"

namespace {

WAVEFORMATEXTENSIBLE formatOf(WORD tag, WORD channels, WORD bitsPerSample, WORD blockAlign = 0) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = tag;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = 48000;
    f.Format.wBitsPerSample = bitsPerSample;
    f.Format.nBlockAlign = blockAlign != 0 ? blockAlign : static_cast<WORD>(channels * bitsPerSample / 8);
    return f;
}

struct Written {
    bool ok = false;
    std::vector<float> samples;  // decoded from the bytes that reached descriptor 1
    std::vector<float> buffer;   // what writePacket left in sampleBuffer
};

Written write(const std::vector<BYTE>& data, std::uint32_t frames, const WAVEFORMATEXTENSIBLE& format,
              std::uint32_t outChannels) {
    fakeplatform::reset();
    Written w;
    StreamCapture capture;
    w.ok = writePacket(data.data(), frames, format.Format, outChannels, w.buffer);
    capture.finish();
    w.samples.resize(capture.out().size() / sizeof(float));
    EXPECT_EQ(capture.out().size() % sizeof(float), 0u);
    if (!w.samples.empty()) std::memcpy(w.samples.data(), capture.out().data(), capture.out().size());
    return w;
}

std::vector<BYTE> bytesOfFloats(const std::vector<float>& values) {
    std::vector<BYTE> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(WritePacket, FloatPassesThroughUnchangedAndUnclamped) {
    const std::vector<float> in = {0.5f, -0.25f, 1.5f, -3.0f, 0.0f, 1e-38f};
    const Written w = write(bytesOfFloats(in), 3, formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), 2);
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.samples, in);
    EXPECT_EQ(w.buffer, in);
}

TEST(WritePacket, IntegerConversions) {
    struct Case {
        const char* label;
        WORD bits;
        std::vector<BYTE> sample;
        float expected;
    };
    const Case cases[] = {
        {"16 -16384", 16, {0x00, 0xC0}, -0.5f},
        {"16 min", 16, {0x00, 0x80}, -1.0f},
        {"16 max", 16, {0xFF, 0x7F}, 32767.0f / 32768.0f},
        {"24 min", 24, {0x00, 0x00, 0x80}, -1.0f},
        {"24 max", 24, {0xFF, 0xFF, 0x7F}, 8388607.0f / 8388608.0f},
        {"24 -1", 24, {0xFF, 0xFF, 0xFF}, -1.0f / 8388608.0f},
        {"32 min", 32, {0x00, 0x00, 0x00, 0x80}, -1.0f},
        {"32 max rounds to 1", 32, {0xFF, 0xFF, 0xFF, 0x7F}, 1.0f},
        {"32 one", 32, {0x01, 0x00, 0x00, 0x00}, 1.0f / 2147483648.0f},
        {"8 bit is silence", 8, {0x7F}, 0.0f},
    };
    for (const Case& c : cases) {
        const Written w = write(c.sample, 1, formatOf(WAVE_FORMAT_PCM, 1, c.bits), 1);
        EXPECT_TRUE(w.ok) << c.label;
        ASSERT_EQ(w.samples.size(), 1u) << c.label;
        EXPECT_EQ(w.samples[0], c.expected) << c.label;
    }
}

TEST(WritePacket, ExtensibleFormatChoosesByTheSubFormat) {
    WAVEFORMATEXTENSIBLE floatFormat = formatOf(WAVE_FORMAT_EXTENSIBLE, 1, 32);
    floatFormat.SubFormat = ids::kSubtypeIeeeFloat;
    EXPECT_EQ(write(bytesOfFloats({0.75f}), 1, floatFormat, 1).samples, std::vector<float>{0.75f});

    WAVEFORMATEXTENSIBLE pcm16 = formatOf(WAVE_FORMAT_EXTENSIBLE, 1, 16);
    pcm16.SubFormat = ids::kIUnknown;  // anything but IEEE float
    EXPECT_EQ(write({0x00, 0xC0}, 1, pcm16, 1).samples, std::vector<float>{-0.5f});
}

TEST(WritePacket, ChannelMapping) {
    // 6-channel 16-bit source: only channels 0 and 1 reach a stereo output.
    std::vector<BYTE> six;
    for (int frame = 0; frame < 2; ++frame) {
        for (int ch = 0; ch < 6; ++ch) {
            const auto v = static_cast<std::int16_t>((frame * 6 + ch + 1) * 1024);
            six.push_back(static_cast<BYTE>(v & 0xFF));
            six.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
        }
    }
    EXPECT_EQ(write(six, 2, formatOf(WAVE_FORMAT_PCM, 6, 16), 2).samples,
              (std::vector<float>{1 / 32.0f, 2 / 32.0f, 7 / 32.0f, 8 / 32.0f}));

    // A mono source fills every output channel.
    EXPECT_EQ(write(bytesOfFloats({0.1f, 0.2f}), 2, formatOf(WAVE_FORMAT_IEEE_FLOAT, 1, 32), 3).samples,
              (std::vector<float>{0.1f, 0.1f, 0.1f, 0.2f, 0.2f, 0.2f}));

    // Stereo to four: the extra channels repeat the last source channel.
    EXPECT_EQ(write(bytesOfFloats({0.1f, 0.2f}), 1, formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), 4).samples,
              (std::vector<float>{0.1f, 0.2f, 0.2f, 0.2f}));
}

TEST(WritePacket, ZeroFramesWritesNothingAndSucceeds) {
    const Written w = write({}, 0, formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32), 2);
    EXPECT_TRUE(w.ok);
    EXPECT_TRUE(w.samples.empty());
    EXPECT_TRUE(w.buffer.empty());
    EXPECT_EQ(fakeplatform::controls().writeCalls, 0u);
}

TEST(WritePacket, EightBitStillWritesTheRightNumberOfSamples) {
    const Written w = write({1, 2, 3, 4, 5, 6}, 3, formatOf(WAVE_FORMAT_PCM, 2, 8), 2);
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.samples, std::vector<float>(6, 0.0f));
}

TEST(WritePacket, FormatsThatWouldReadPastThePacketAreRefused) {
    struct Case {
        const char* label;
        WAVEFORMATEXTENSIBLE format;
    };
    const Case cases[] = {
        {"no channels", formatOf(WAVE_FORMAT_IEEE_FLOAT, 0, 32, 4)},
        {"float in 2-byte slots", formatOf(WAVE_FORMAT_IEEE_FLOAT, 2, 32, 4)},
        {"24-bit in 2-byte slots", formatOf(WAVE_FORMAT_PCM, 2, 24, 4)},
        {"16-bit in 0-byte slots", formatOf(WAVE_FORMAT_PCM, 2, 16, 1)},
    };
    for (const Case& c : cases) {
        // Exactly frames * nBlockAlign bytes, so that any over-read is caught
        // by the address sanitizer.
        const std::uint32_t frames = 3;
        const std::vector<BYTE> data(static_cast<std::size_t>(frames) * c.format.Format.nBlockAlign, 0x11);
        const Written w = write(data, frames, c.format, 2);
        EXPECT_FALSE(w.ok) << c.label;
        EXPECT_TRUE(w.samples.empty()) << c.label;
        EXPECT_TRUE(w.buffer.empty()) << c.label;
    }
}

TEST(WritePacket, BufferGrowsByHalfOrToTheNeedAndNeverShrinks) {
    fakeplatform::reset();
    StreamCapture capture;
    const auto format = formatOf(WAVE_FORMAT_IEEE_FLOAT, 1, 32);
    const std::vector<BYTE> data(4 * 1000, 0);
    std::vector<float> buffer;
    buffer.reserve(100);

    ASSERT_TRUE(writePacket(data.data(), 120, format.Format, 1, buffer));
    EXPECT_EQ(buffer.capacity(), 150u);  // 100 + 50 beats the 120 needed
    ASSERT_TRUE(writePacket(data.data(), 400, format.Format, 1, buffer));
    EXPECT_EQ(buffer.capacity(), 400u);  // the need beats 150 + 75
    ASSERT_TRUE(writePacket(data.data(), 10, format.Format, 1, buffer));
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.capacity(), 400u);
    capture.finish();
    EXPECT_EQ(capture.out().size(), (120u + 400u + 10u) * 4u);
}

}  // namespace
