#include "output/output_stream.h"

#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/control.h"
#include "stream_capture.h"

namespace {

std::vector<unsigned char> sequence(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    return bytes;
}

class WriteAll : public ::testing::Test {
protected:
    void SetUp() override { standin::reset(); }
    void TearDown() override { standin::reset(); }
};

TEST_F(WriteAll, OneWriteWhenTheDescriptorTakesEverything) {
    const auto bytes = sequence(3840);
    StreamCapture capture;
    EXPECT_TRUE(writeAll(bytes.data(), bytes.size()));
    capture.finish();
    EXPECT_EQ(capture.out(), bytes);
    EXPECT_EQ(standin::writeStats().calls, 1u);
}

TEST_F(WriteAll, PartialWritesAreContinuedInOrder) {
    const auto bytes = sequence(1000);
    standin::setWrites({7, UINT64_MAX});
    StreamCapture capture;
    EXPECT_TRUE(writeAll(bytes.data(), bytes.size()));
    capture.finish();
    EXPECT_EQ(capture.out(), bytes);
    EXPECT_EQ(standin::writeStats().calls, (1000u + 6u) / 7u);
}

TEST_F(WriteAll, AFailingWriteEndsWithFalseAndKeepsWhatWasWritten) {
    const auto bytes = sequence(100);
    standin::setWrites({0, 30});
    StreamCapture capture;
    EXPECT_FALSE(writeAll(bytes.data(), bytes.size()));
    capture.finish();
    EXPECT_EQ(capture.out(), std::vector<unsigned char>(bytes.begin(), bytes.begin() + 30));
}

TEST_F(WriteAll, NothingToWriteIsSuccessWithoutAWrite) {
    standin::setWrites({0, 0});
    EXPECT_TRUE(writeAll(nullptr, 0));
    EXPECT_EQ(standin::writeStats().calls, 0u);
}

TEST_F(WriteAll, AReaderThatWentAwayIsAFailedWriteNotADeadProcess) {
    const auto bytes = sequence(4096);
    StreamCapture capture(0);  // the reader closes its end at once
    // More than a pipe holds: if the reader has not closed yet, a write blocks
    // until it has, and fails then.
    bool ok = true;
    for (int i = 0; i < 100 && ok; ++i) ok = writeAll(bytes.data(), bytes.size());
    capture.finish();
    EXPECT_FALSE(ok);
}

}  // namespace
