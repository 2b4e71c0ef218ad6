#include "output/output_stream.h"

#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

struct Case {
    const char* name;
    std::size_t length;
    unsigned maxBytesPerCall;  // what the descriptor takes per call (0: everything)
    std::uint64_t failAfter;   // bytes before the reader goes away
    bool ok;
    std::size_t written;
    std::uint64_t calls;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WriteAll : public ::testing::TestWithParam<Case> {};

TEST_P(WriteAll, WritesInOrderUntilDoneOrFailed) {
    const Case& c = GetParam();
    std::vector<unsigned char> bytes(c.length);
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    StreamCapture capture;
    fakeplatform::controls().maxBytesPerCall = c.maxBytesPerCall;
    fakeplatform::controls().failAfterBytes = c.failAfter;
    EXPECT_EQ(writeAll(c.length == 0 ? nullptr : bytes.data(), c.length), c.ok);
    capture.finish();
    EXPECT_EQ(capture.out(), std::vector<unsigned char>(bytes.begin(), bytes.begin() + c.written));
    EXPECT_EQ(fakeplatform::controls().writeCalls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(All, WriteAll,
                         ::testing::Values(Case{"OneWriteWhenAllIsTaken", 3840, 0, UINT64_MAX, true, 3840, 1},
                                           Case{"PartialWritesContinue", 1000, 7, UINT64_MAX, true, 1000, 143},
                                           Case{"FailureKeepsWhatWasWritten", 100, 0, 30, false, 30, 2},
                                           Case{"NothingToWriteWritesNothing", 0, 0, 0, true, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
