// A long capture costs no allocation and one write per packet once running.
// This binary replaces the global allocator to count, so it stands alone.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

// Allocations made by the thread running the program, counted without allocating.
thread_local bool counting = false;
std::uint64_t packets = 0;  // the steady run: after the first packet's write, before the last's
std::atomic<unsigned> whileRunning{0};
std::atomic<bool> sawTheSampleBuffer{false};

void* allocate(std::size_t size) {
    if (counting) {
        const std::uint64_t writes = fakeplatform::controls().writeCalls;
        if (writes >= 1 && writes < packets) ++whileRunning;
        if (writes == 0 && size == 2 * 9600 * sizeof(float)) sawTheSampleBuffer = true;
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
    // Packets of many sizes up to 200 ms at 48 kHz, some silent, some without data.
    std::string text = kQuick;
    for (int i = 0; i < 250; ++i) text += "burst=9600,1,480s;burst=4410n,7,960;burst=2000,333s,17;";
    const fakeaudio::Script script = loadScript(text);
    std::uint64_t frames = 0;
    for (const auto& burst : script.bursts) {
        packets += burst.size();
        for (const fakeaudio::Packet& p : burst) frames += p.frames;
    }
    fakeplatform::controls().output.reserve(frames * 8);  // the kept output must not allocate either

    counting = true;
    const RunResult r = run({"--pid", "1234"});
    counting = false;

    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(fakeplatform::controls().writeCalls, packets);
    EXPECT_EQ(r.out.size(), frames * 8);
    EXPECT_EQ(whileRunning.load(), 0u) << "allocations between the first and the last packet";
    // The counter does see the program's own allocations: 200 ms of stereo reserved before the first packet.
    EXPECT_TRUE(sawTheSampleBuffer.load());
}

}  // namespace
