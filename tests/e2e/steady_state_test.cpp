// A long capture costs no allocation and one write per packet once running.
// This binary replaces the global allocator to count, so it stands alone.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "run_harness.h"

namespace {

// Allocations made by the thread running the program while it captures.
thread_local bool counting = false;
std::atomic<unsigned> allocations{0};

void* allocate(std::size_t size) {
    if (counting) ++allocations;
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
    // Packets of many sizes up to 200 ms at 48 kHz, none silent (silence is written in tenths of a second).
    std::string script = "period=1;burst=9600;";  // the first packet: the loop's own set-up is done by then
    std::uint64_t packets = 0, frames = 0;
    for (int i = 0; i < 250; ++i) {
        script += "burst=9600,1,480;burst=4410,7,960;burst=2000,333,17;";
        packets += 9, frames += 9600 + 1 + 480 + 4410 + 7 + 960 + 2000 + 333 + 17;
    }
    RunControls controls;
    controls.countWrites = true;
    controls.onWait = [&](unsigned nth, std::uint32_t) {
        counting = nth >= 2 && nth < 2 + 750;  // after the first packet's wait and write, until the last's
    };
    const RunResult r = run({"--pid", "1234"}, script, controls);
    counting = false;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.size(), (frames + 9600) * 8);
    EXPECT_EQ(r.writes, packets + 1);
    EXPECT_EQ(allocations.load(), 0u) << "allocations between the first and the last packet";
}

}  // namespace
