// The capture loop's ways through and out, run for real against the engine.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/stop_signal.h"
#include "fakes/audio/journal.h"
#include "platform/posix/control.h"
#include "run_harness.h"

namespace {

constexpr const char* kHead =
    "info: pid=1234 includeChildren=false\n"
    "info: capture format 48000 Hz 2 ch 32 bit float\n"
    "info: capture started sampleRate=48000 channels=2\n";
constexpr const char* kEndOfScript = "warn: GetNextPacketSize hr=0x88890004\n";
constexpr const char* kStopped = "info: capture stopped\n";

using engine::Call;
using engine::Packet;

Packet patternPacket(std::uint32_t frames) {
    Packet p;
    p.frames = frames;
    p.content = engine::Content::Pattern;
    return p;
}

Packet silentPacket(std::uint32_t frames, bool nullData, DWORD flags) {
    Packet p;
    p.frames = frames;
    p.flags = flags;
    p.nullData = nullData;
    p.bytes.assign(static_cast<std::size_t>(frames) * 8, 0x5A);  // whatever the engine left there
    return p;
}

std::vector<unsigned char> pattern(std::uint64_t offset, std::size_t count) {
    const std::vector<BYTE> bytes = engine::patternBytes(offset, count);
    return {bytes.begin(), bytes.end()};
}

void append(std::vector<unsigned char>& to, const std::vector<unsigned char>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

class CaptureLoop : public RunTest {};

TEST_F(CaptureLoop, EveryPacketReachesTheOutputInOrderByteForByte) {
    // Bursts of several packets, silent and null ones among them; pattern
    // bytes include 0x0A, 0x0D and 0x1A, which a text-mode stream would alter.
    engine::load(scriptOf({
        {patternPacket(480), patternPacket(7), patternPacket(1)},
        {silentPacket(480, false, AUDCLNT_BUFFERFLAGS_SILENT)},
        {patternPacket(100), silentPacket(3, true, 0), patternPacket(5)},
        {silentPacket(2, true, AUDCLNT_BUFFERFLAGS_SILENT | AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY)},
        {patternPacket(33)},
    }));
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kHead) + kEndOfScript + kStopped);

    std::vector<unsigned char> expected = pattern(0, 488 * 8);
    append(expected, std::vector<unsigned char>(480 * 8, 0));  // 960 zero samples: 3840 bytes
    append(expected, pattern(488 * 8, 100 * 8));
    append(expected, std::vector<unsigned char>(3 * 8, 0));
    append(expected, pattern(588 * 8, 5 * 8));
    append(expected, std::vector<unsigned char>(2 * 8, 0));
    append(expected, pattern(593 * 8, 33 * 8));
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.stats.calls[static_cast<int>(Call::ReleaseBuffer)], 9u);
    EXPECT_EQ(r.stats.framesReleased, 488u + 480 + 108 + 2 + 33);
}

TEST_F(CaptureLoop, WaysOut) {
    struct Case {
        const char* label;
        engine::Script script;
        std::string tail;               // standard error after the head
        std::size_t outBytes;           // what reached the output
        unsigned getBuffers;            // GetBuffer calls made
        unsigned releases;              // ReleaseBuffer calls made
    };
    const auto twoPackets = [] { return scriptOf({{patternPacket(10), patternPacket(20)}, {patternPacket(30)}}); };
    std::vector<Case> cases;

    cases.push_back({"GetNextPacketSize fails after a wake-up", twoPackets(),
                     "warn: GetNextPacketSize hr=0x88890004\n", 0, 0, 0});
    cases.back().script.fault(Call::GetNextPacketSize) = {1, AUDCLNT_E_DEVICE_INVALIDATED};

    cases.push_back({"GetNextPacketSize fails while draining", twoPackets(), "", 80, 1, 1});
    cases.back().script.fault(Call::GetNextPacketSize) = {2, AUDCLNT_E_SERVICE_NOT_RUNNING};

    cases.push_back({"GetBuffer fails", twoPackets(), "warn: GetBuffer hr=0x88890018\n", 80, 2, 1});
    cases.back().script.fault(Call::GetBuffer) = {2, AUDCLNT_E_BUFFER_ERROR};

    cases.push_back({"a failing ReleaseBuffer is not looked at", twoPackets(), kEndOfScript, 480, 3, 3});
    cases.back().script.fault(Call::ReleaseBuffer) = {1, AUDCLNT_E_INVALID_SIZE};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetUp();
        engine::load(c.script);
        const RunResult r = run({"--pid", "1234"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err, std::string(kHead) + c.tail + kStopped);
        EXPECT_EQ(r.out, pattern(0, c.outBytes));
        EXPECT_EQ(r.stats.calls[static_cast<int>(Call::GetBuffer)], c.getBuffers);
        EXPECT_EQ(r.stats.calls[static_cast<int>(Call::ReleaseBuffer)], c.releases);
        EXPECT_EQ(r.liveObjects, 0u);
        EXPECT_EQ(r.openEvents, 0u);
    }
}

TEST_F(CaptureLoop, AFailedWriteStillReleasesThePacketAndLeavesQuietly) {
    engine::load(scriptOf({{patternPacket(10), patternPacket(20)}, {patternPacket(30)}}));
    standin::setWrites({0, 80 + 12});  // the second packet breaks off mid-frame
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kHead) + kStopped);
    EXPECT_EQ(r.out, pattern(0, 92));
    EXPECT_EQ(r.stats.calls[static_cast<int>(Call::GetBuffer)], 2u);
    EXPECT_EQ(r.stats.calls[static_cast<int>(Call::ReleaseBuffer)], 2u);
    EXPECT_EQ(r.stats.framesReleased, 30u);
}

TEST_F(CaptureLoop, AReaderThatClosesThePipeEndsTheRunWithSuccess) {
    engine::Script script = scriptOf({});
    script.end = engine::End::Tone;
    script.periodMs = 1;
    engine::load(script);
    const RunResult r = run({"--pid", "1234"}, 10000);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kHead) + kStopped);
    EXPECT_EQ(r.out.size(), 10000u);
    EXPECT_EQ(r.stats.calls[static_cast<int>(Call::GetBuffer)], r.stats.calls[static_cast<int>(Call::ReleaseBuffer)]);
}

TEST_F(CaptureLoop, AFailedWaitIsReportedAndEndsTheCapture) {
    standin::failWait(2, WAIT_FAILED);  // the first wait is the activation's
    engine::load(scriptOf({{patternPacket(10)}}));
    const RunResult r = run({"--pid", "1234"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kHead) + "error: WaitForSingleObject failed\n" + kStopped);
    EXPECT_TRUE(r.out.empty());
}

TEST_F(CaptureLoop, AStopRequestIsNoticedWithinOneWait) {
    engine::Script script = scriptOf({{patternPacket(4)}});
    script.end = engine::End::Idle;
    engine::load(script);
    RunResult r;
    unsigned waitsAtStop = 0;
    std::thread console([&] {
        // Once the packet is out the loop sits in its waits; then Ctrl+C.
        while (engine::stats().framesReleased < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        waitsAtStop = standin::waitCalls();
        ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    });
    r = run({"--pid", "1234"});
    console.join();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, std::string(kHead) + kStopped);
    EXPECT_EQ(r.out, pattern(0, 32));
    // The wait under way when the flag was set, at most; no further one.
    EXPECT_LE(standin::waitCalls(), waitsAtStop + 1);
}

}  // namespace
