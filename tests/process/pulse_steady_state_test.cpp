// The Linux backend in this process against a private PulseAudio server: once
// the capture runs, waiting hands over every packet without one allocation on
// the waiting thread. This binary replaces the global allocator to count.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "linux/linux_backend.h"
#include "private_component.h"

namespace {

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

// Counts from the 20th packet on (the streams' set-up is done by then) until the 300th.
struct Counter final : CaptureSink {
    bool packet(const CapturedPacket& p) override {
        counting = ++packets >= 20 && packets < 300;
        frames += p.frames;
        return p.samples != nullptr && p.frames > 0;
    }
    void say(const char* line) override { lines += line; }
    unsigned packets = 0;
    std::uint64_t frames = 0;
    std::string lines;
};

TEST(PulseSteadyState, NoAllocationWhileCapturing) {
    PrivateComponent server("audio-server", {"pulseaudio", "out"});
    for (const auto& [name, value] : server.env) {
        if (value.empty()) ::unsetenv(name.c_str());
        else ::setenv(name.c_str(), value.c_str(), 1);
    }
    const std::string tone = server.dir + "/tone.wav";
    outputOf({"sox", "-n", "-r", "48000", "-c", "2", "-e", "float", "-b", "32", tone, "synth", "20", "sine", "440"});
    const pid_t player = spawnProcess({"paplay", tone}, server.env, server.dir + "/player");

    const std::unique_ptr<CaptureBackend> backend = newLinuxBackend();
    CaptureRequest request;
    request.pid = static_cast<std::uint32_t>(player);
    request.includeTree = true;
    std::unique_ptr<CaptureStream> stream = backend->open(request);
    ASSERT_TRUE(stream);
    Counter sink;
    for (int waits = 0; waits < 2000 && sink.packets < 300; ++waits)
        ASSERT_EQ(stream->wait(150, sink), WaitResult::Continue);
    counting = false;
    stream.reset();
    killTree(player);
    EXPECT_EQ(sink.packets, 300u);
    EXPECT_GE(sink.frames, 300u * 100);
    EXPECT_EQ(sink.lines, "");
    EXPECT_EQ(allocations.load(), 0u) << "allocations between the 20th and the 300th packet";
}

}  // namespace
