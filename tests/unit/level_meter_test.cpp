#include "output/level_meter.h"

#include <string>

#include <gtest/gtest.h>

namespace {

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
}

TEST(LevelMeter, EightChannelsFitOnAConsoleLine) {
    LevelMeter meter;
    meter.start(8, 0);
    const float frame[8] = {1, 0.5f, 0.25f, 0.1f, 0.01f, 0.001f, 0.0001f, 0};
    meter.track(frame, 8);
    meter.count(10ull * 3600 * 192000 * 8 * 4);  // ten hours at the highest rate
    EXPECT_EQ(lineOf(meter, 36000000), "10:00:00  210937.5 MiB    0.0  -6.0 -12.0 -20.0 -40.0 -60.0 -80.0  -inf dBFS");
}

}  // namespace
