// A long capture costs no allocation and one write per packet once running.
// This binary replaces the global allocator to count, so it stands alone.
#include <string>

#include <gtest/gtest.h>

#include "allocation_count.h"
#include "run_harness.h"

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
        // After the first packet's wait and write, until the last's.
        allocationcount::on = nth >= 2 && nth < 2 + 750;
    };
    allocationcount::counted = std::this_thread::get_id();
    const RunResult r = run({"--pid", "1234"}, script, controls);
    allocationcount::on = false;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.size(), (frames + 9600) * 8);
    EXPECT_EQ(r.writes, packets + 1);
    EXPECT_EQ(allocationcount::made.load(), 0u) << "allocations between the first and the last packet";
}

}  // namespace
