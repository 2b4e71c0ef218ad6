// The Linux backend in this process against a private server of each kind,
// capturing a player: once the first packet is out, no allocation on the
// program's thread and one write per packet, each whole frames and at most a
// period (a stream passes through as the server delivers it, which need not be
// in periods). This binary replaces the global allocator to count, so it stands alone.
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "app/stop_signal.h"
#include "linux/linux_backend.h"
#include "allocation_count.h"
#include "private_component.h"

namespace {

class SteadyCapture : public ::testing::TestWithParam<const char*> {};

TEST_P(SteadyCapture, NoAllocationAndAtMostOnePeriodPerWrite) {
    const PrivateComponent server("audio-server", {GetParam(), "out"});
    for (const auto& variable : server.env) ::setenv(variable.first.c_str(), variable.second.c_str(), 1);
    outputOf({"sox", "-n", "-r", "48000", "-c", "2", "-e", "float", "-b", "32", server.dir + "/440.wav", "synth", "20",
              "sine", "440", "vol", "0.25"});
    const pid_t player = spawnProcess({"paplay", "--latency-msec=50", server.dir + "/440.wav"}, server.env,
                                      server.dir + "/player.log");

    // Standard output keeps each write's bytes apart, so the reader sees every write as it was made.
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    const int saved = ::dup(1);
    ::dup2(fds[1], 1);
    ::close(fds[1]);
    std::vector<ssize_t> sizes;
    sizes.reserve(1000);
    std::thread reader([&sizes, fd = fds[0]] {
        std::vector<unsigned char> chunk(1 << 20);
        for (ssize_t got = 0; (got = ::read(fd, chunk.data(), chunk.size())) > 0;) {
            sizes.push_back(got);
            if (sizes.size() == 10) allocationcount::on = true;  // well past the first packet
            if (sizes.size() == 200) {
                allocationcount::on = false;
                stopRequested = true;
            }
        }
        ::close(fd);
    });
    allocationcount::counted = std::this_thread::get_id();
    const std::string pid = std::to_string(player);
    const char* argv[] = {"procloop", "--pid", pid.c_str(), "--include-child-processes", "--duration", "20"};
    ::testing::internal::CaptureStderr();
    const int exitCode = runSequence(*newLinuxBackend(), 6, argv);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ::dup2(saved, 1);
    ::close(saved);
    reader.join();
    killTree(player);
    stopRequested = false;

    EXPECT_EQ(exitCode, 0) << err;
    ASSERT_GE(sizes.size(), 200u) << err;
    EXPECT_EQ(allocationcount::made.load(), 0u);
    // 10 ms at 48 kHz stereo is a period.
    for (std::size_t i = 10; i < 200; ++i) {
        EXPECT_TRUE(sizes[i] > 0 && sizes[i] <= 480 * 8 && sizes[i] % 8 == 0) << "write " << i << ": " << sizes[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, SteadyCapture, ::testing::Values("pulseaudio", "pipewire"));

}  // namespace
