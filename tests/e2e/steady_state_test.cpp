// A long capture costs no allocation and one write per packet once running.
// This binary replaces the global allocator to count, so it stands alone.
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include <gtest/gtest.h>

#include "platform/posix/control.h"
#include "run_harness.h"

namespace {

// Allocations made by the thread running the program, each tagged with how
// many packets had been written when it happened. Fixed storage: recording
// must not allocate.
thread_local bool counting = false;
constexpr std::size_t kMaxRecorded = 4096;
std::uint64_t writesAtAllocation[kMaxRecorded];
std::atomic<std::size_t> recorded{0};

void* allocate(std::size_t size) {
    if (counting) {
        const std::size_t at = recorded.fetch_add(1);
        if (at < kMaxRecorded) writesAtAllocation[at] = standin::writeCalls();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

class SteadyState : public RunTest {};

TEST_F(SteadyState, NoAllocationAfterTheFirstPacketAndOneWritePerPacket) {
    std::mt19937 rng(2024);
    std::vector<std::vector<engine::Packet>> bursts;
    std::size_t packets = 0;
    while (packets < 2000) {
        std::vector<engine::Packet> burst(1 + rng() % 3);
        for (engine::Packet& p : burst) {
            p.frames = 1 + rng() % 9600;  // up to 200 ms at 48 kHz
            p.content = engine::Content::Tone;
            switch (rng() % 8) {
                case 0: p.flags = AUDCLNT_BUFFERFLAGS_SILENT; break;
                case 1: p.nullData = true; break;
                default: break;
            }
        }
        packets += burst.size();
        bursts.push_back(std::move(burst));
    }
    engine::Script script = scriptOf(std::move(bursts));
    script.periodMs = 0;
    engine::load(script);

    recorded.store(0);
    counting = true;
    const RunResult r = run({"--pid", "1234"});
    counting = false;

    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.stats.calls[static_cast<int>(engine::Call::ReleaseBuffer)], packets);
    const std::uint64_t writes = standin::writeStats().calls;
    EXPECT_EQ(writes, packets);
    EXPECT_EQ(r.out.size(), r.stats.framesReleased * 2 * sizeof(float));

    ASSERT_LT(recorded.load(), kMaxRecorded);
    std::size_t whileRunning = 0;
    for (std::size_t i = 0; i < recorded.load(); ++i) {
        if (writesAtAllocation[i] >= 1 && writesAtAllocation[i] < writes) ++whileRunning;
    }
    EXPECT_EQ(whileRunning, 0u) << "allocations between the first and the last packet";
    EXPECT_GT(recorded.load(), 0u);  // the counter does see the program's set-up
}

}  // namespace
