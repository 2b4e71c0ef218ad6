// A long capture costs no allocation and one write per packet once running.
// This binary replaces the global allocator to count, so it stands alone.
#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

// Allocations made by the thread running the program: each one's size and how
// many writes had been made when it happened. Fixed storage: recording must
// not allocate.
thread_local bool counting = false;
constexpr std::size_t kMaxRecorded = 4096;
struct Allocation {
    std::size_t size;
    std::uint64_t writesBefore;
} recordedAllocations[kMaxRecorded];
std::atomic<std::size_t> recorded{0};

void* allocate(std::size_t size) {
    if (counting) {
        const std::size_t at = recorded.fetch_add(1);
        if (at < kMaxRecorded) recordedAllocations[at] = {size, fakeplatform::controls().writeCalls};
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
    std::vector<std::vector<fakeaudio::Packet>> bursts;
    std::size_t packets = 0;
    std::uint64_t frames = 0;
    while (packets < 2000) {
        std::vector<fakeaudio::Packet> burst(1 + rng() % 3);
        for (fakeaudio::Packet& p : burst) {
            p.frames = 1 + rng() % 9600;  // up to 200 ms at 48 kHz
            p.flags = rng() % 8 == 0 ? AUDCLNT_BUFFERFLAGS_SILENT : 0;
            p.nullData = rng() % 8 == 1;
            frames += p.frames;
        }
        packets += burst.size();
        bursts.push_back(std::move(burst));
    }
    fakeaudio::Script script = scriptOf(std::move(bursts));
    script.periodMs = 0;
    fakeaudio::load(script);
    fakeplatform::controls().output.reserve(frames * 8);  // the kept output must not allocate either

    recorded.store(0);
    counting = true;
    const RunResult r = run({"--pid", "1234"});
    counting = false;

    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.stats[fakeaudio::Call::ReleaseBuffer], packets);
    const std::uint64_t writes = fakeplatform::controls().writeCalls;
    EXPECT_EQ(writes, packets);
    EXPECT_EQ(r.out.size(), frames * 8);

    ASSERT_LT(recorded.load(), kMaxRecorded);
    std::size_t whileRunning = 0;
    bool sawTheSampleBuffer = false;
    for (std::size_t i = 0; i < recorded.load(); ++i) {
        const Allocation& a = recordedAllocations[i];
        if (a.writesBefore >= 1 && a.writesBefore < writes) ++whileRunning;
        sawTheSampleBuffer |= a.writesBefore == 0 && a.size == 2 * 9600 * sizeof(float);
    }
    EXPECT_EQ(whileRunning, 0u) << "allocations between the first and the last packet";
    // The counter does see the program's own allocations: 200 ms of stereo reserved before the first packet.
    EXPECT_TRUE(sawTheSampleBuffer);
}

}  // namespace
