// Where a packet lands in the stream locked to the clock, and the silence due.
#include "capture/stream_clock.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kStart = 1000000000;  // 100 s on the counter, in 100 ns units
constexpr std::uint64_t kMs = 10000;

struct Case {
    const char* name;
    std::uint32_t rate;
    std::uint64_t written;
    std::uint64_t previous;  // the last packet's time (0: none)
    std::uint64_t time;      // this packet's (0: none)
    std::uint64_t arrival;
    std::uint32_t frames;  // 0: ask for the zeros due at `arrival` instead
    std::uint64_t zeros;
    std::uint32_t skip;
    bool filler = false;  // what was written is zeros for time no packet claimed
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Placing : public ::testing::TestWithParam<Case> {};

TEST_P(Placing, GivesTheZerosBeforeAndTheFramesSkipped) {
    const Case& c = GetParam();
    StreamClock clock(c.rate, kStart);
    if (c.previous != 0) clock.place(c.previous, c.previous, 0);
    clock.wrote(c.written, c.filler);
    const StreamClock::Placement p =
        c.frames == 0 ? StreamClock::Placement{clock.zerosDue(c.arrival), 0} : clock.place(c.time, c.arrival, c.frames);
    EXPECT_EQ(p.zeros, c.zeros);
    EXPECT_EQ(p.skip, c.skip);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Placing,
    ::testing::Values(
        Case{"Contiguous", 48000, 480, kStart, kStart + 10 * kMs, kStart + 30 * kMs, 480, 0, 0},
        Case{"JitterAheadSnaps", 48000, 480, kStart, kStart + 11 * kMs + 9000, kStart + 30 * kMs, 480, 0, 0},
        Case{"JitterBehindSnaps", 48000, 480, kStart, kStart + 8 * kMs + 1000, kStart + 30 * kMs, 480, 0, 0},
        Case{"AfterFillerNoSnap", 48000, 480, kStart, kStart + 8 * kMs + 1000, kStart + 30 * kMs, 480, 0, 91, true},
        Case{"FirstPacketPlacedExactly", 48000, 0, 0, kStart + kMs, kStart + 10 * kMs, 480, 48, 0},
        Case{"GapBeyondTheSnap", 48000, 0, kStart, kStart + 25000, kStart + 10 * kMs, 480, 120, 0},
        Case{"TwoSecondsLater", 44100, 441, 0, kStart + 2010 * kMs, kStart + 2030 * kMs, 441, 88200, 0},
        Case{"PartlyFilledAlready", 48000, 4800, 0, kStart + 90 * kMs, kStart + 110 * kMs, 960, 0, 480},
        Case{"WhollyFilledAlready", 48000, 4800, 0, kStart + 50 * kMs, kStart + 110 * kMs, 480, 0, 480},
        Case{"BeforeTheStart", 48000, 0, 0, kStart - 5 * kMs, kStart + 10 * kMs, 480, 0, 240},
        Case{"NoTimeArrivalStandsIn", 48000, 0, 0, 0, kStart + 1000 * kMs, 480, 47520, 0},
        Case{"NoTimeSnapsAWaitsJitter", 48000, 40320, 0, 0, kStart + 1000 * kMs, 480, 0, 0},
        Case{"NoTimeBeyondAWait", 48000, 54721, 0, 0, kStart + 1000 * kMs, 480, 0, 480},
        Case{"TimeGoingBackIsNoTime", 48000, 0, kStart + 3000 * kMs, kStart + 2000 * kMs, kStart + 1000 * kMs, 480, 47520, 0},
        Case{"DueRoundsToTheNearestFrame", 48000, 0, 0, 0, kStart + 3333333, 0, 16000, 0},
        Case{"NothingDueOnceWritten", 48000, 48001, 0, 0, kStart + 1000 * kMs, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
