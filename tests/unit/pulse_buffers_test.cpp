// The Linux audio service's two buffers: a captured stream's FIFO (start
// level, underrun, play-out, trimming, mixing) and the packet ring (the
// 200 ms buffer, what a slow reader loses and how it is told).
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "platform/pulse/packet_ring.h"
#include "platform/pulse/stream_fifo.h"

namespace {

constexpr std::uint32_t kPeriod = 4;  // frames, mono

std::vector<float> ramp(float first, std::uint32_t frames) {
    std::vector<float> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i) v[i] = first + static_cast<float>(i);
    return v;
}

// One period of the FIFO mixed into `base` (one value per frame), or nothing
// if the stream does not play in it.
std::vector<float> period(pulse::StreamFifo& fifo, float base = 0.0f) {
    if (!fifo.ready()) return {};
    std::vector<float> out(kPeriod, base);
    fifo.take(out.data());
    return out;
}

TEST(StreamFifo, PlaysFromAChunkAndTwoPeriodsThenRunsDryIntoSilence) {
    pulse::StreamFifo fifo;
    fifo.reset(64, 1, kPeriod);
    fifo.push(ramp(1, 4).data(), 4);  // start level 4 + 2 * 4 = 12
    EXPECT_TRUE(period(fifo).empty());
    fifo.push(ramp(5, 4).data(), 4);
    EXPECT_TRUE(period(fifo).empty());
    fifo.push(ramp(9, 4).data(), 4);  // 12 held
    EXPECT_EQ(period(fifo, 0.5f), (std::vector<float>{1.5f, 2.5f, 3.5f, 4.5f}));  // added to what is there
    EXPECT_EQ(period(fifo), (std::vector<float>{5, 6, 7, 8}));
    fifo.push(ramp(13, 2).data(), 2);
    EXPECT_EQ(period(fifo), (std::vector<float>{9, 10, 11, 12}));
    EXPECT_EQ(period(fifo), (std::vector<float>{13, 14, 0, 0}));  // dry: what there was, then silence
    fifo.push(ramp(20, 4).data(), 4);
    EXPECT_TRUE(period(fifo).empty()) << "after running dry it waits for the start level again";
}

// An ended stream and a paused one both play out what they hold without
// waiting for the start level; a paused one that delivers again waits for it.
TEST(StreamFifo, EndedAndPausedStreamsPlayOutWhatTheyHold) {
    for (const bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "ended");
        pulse::StreamFifo fifo;
        fifo.reset(64, 1, kPeriod);
        fifo.push(ramp(1, 3).data(), 3);
        fifo.push(nullptr, 2);  // a hole the server reported: silence that keeps time
        fifo.push(ramp(4, 1).data(), 1);
        EXPECT_TRUE(period(fifo).empty());
        if (paused) {
            fifo.stall();
        } else {
            fifo.finish();
        }
        EXPECT_TRUE(fifo.playingOut());
        EXPECT_EQ(period(fifo), (std::vector<float>{1, 2, 3, 0}));
        EXPECT_EQ(period(fifo), (std::vector<float>{0, 4, 0, 0}));
        EXPECT_FALSE(fifo.playingOut());
        EXPECT_TRUE(period(fifo).empty());
        fifo.push(ramp(9, 4).data(), 4);
        if (paused) {
            EXPECT_TRUE(period(fifo).empty()) << "a resumed stream waits for the start level";
        } else {
            EXPECT_EQ(period(fifo), (std::vector<float>{9, 10, 11, 12}));
        }
    }
}

TEST(StreamFifo, KeepsTheNewestWhenOverfullAndTrimsFarAboveItsLevel) {
    pulse::StreamFifo fifo;
    fifo.reset(16, 2, kPeriod);
    const std::vector<float> stereo = {1, -1, 2, -2, 3, -3};
    for (int i = 0; i < 7; ++i) fifo.push(stereo.data(), 3);  // 21 frames into 16
    EXPECT_EQ(fifo.frames(), 16u);
    // Level 3 + 2 * 4 = 11; 16 is not past 11 + 16, so nothing is trimmed yet.
    ASSERT_TRUE(fifo.ready());
    std::vector<float> out(kPeriod * 2, 0.0f);
    fifo.take(out.data());
    // 21 frames pushed, the oldest 5 lost: the first kept is frame 5, value 3.
    EXPECT_EQ(out, (std::vector<float>{3, -3, 1, -1, 2, -2, 3, -3}));

    pulse::StreamFifo big;
    big.reset(100, 1, kPeriod);
    big.push(ramp(0, 2).data(), 2);
    big.push(ramp(2, 20).data(), 20);  // largest chunk 20: level 20 + 2 * 4 = 28
    EXPECT_FALSE(big.ready());
    big.push(ramp(22, 20).data(), 20);
    ASSERT_TRUE(big.ready());
    EXPECT_EQ(big.frames(), 42u) << "up to level + 4 periods: kept";
    big.push(ramp(42, 20).data(), 20);
    ASSERT_TRUE(big.ready());
    EXPECT_EQ(big.frames(), 28u) << "past level + 4 periods: the oldest go, back to the level";
    std::vector<float> newest(kPeriod, 0.0f);
    big.take(newest.data());
    EXPECT_EQ(newest, (std::vector<float>{34, 35, 36, 37}));
}

TEST(PacketRing, ASlowReaderLosesTheOldestAndTheNextPacketSaysSo) {
    pulse::PacketRing ring;
    ring.reset(3, 2, 1);
    for (std::uint64_t n = 0; n < 5; ++n) {
        float* slot = ring.claim();
        ASSERT_NE(slot, nullptr);
        slot[0] = slot[1] = static_cast<float>(n);
        ring.commit(pulse::PacketInfo{2, 0, n * 2, n});
    }
    EXPECT_EQ(ring.queuedFrames(), 6u);
    EXPECT_EQ(ring.front().devicePosition, 4u);  // packets 0 and 1 were dropped
    EXPECT_EQ(ring.front().flags, 0x1u);
    EXPECT_EQ(ring.frontData()[0], 2.0f);
    ring.pop();
    EXPECT_EQ(ring.front().flags, 0u);
    EXPECT_EQ(ring.frontData()[0], 3.0f);
}

TEST(PacketRing, APacketInTheReadersHandsIsNeverOverwritten) {
    pulse::PacketRing ring;
    ring.reset(2, 1, 1);
    for (std::uint64_t n = 0; n < 2; ++n) {
        ring.claim()[0] = static_cast<float>(n);
        ring.commit(pulse::PacketInfo{1, 0, n, 0});
    }
    ring.hand();
    EXPECT_EQ(ring.claim(), nullptr) << "full, and the oldest is being read: the new packet is lost";
    EXPECT_EQ(ring.frontData()[0], 0.0f);
    ring.unhand();
    ring.pop();
    ring.claim()[0] = 7.0f;
    ring.commit(pulse::PacketInfo{1, 0, 3, 0});
    EXPECT_EQ(ring.front().flags, 0u);
    ring.pop();
    EXPECT_EQ(ring.front().flags, 0x1u) << "the packet after the lost one follows a gap";
    EXPECT_EQ(ring.frontData()[0], 7.0f);
}

}  // namespace
