// Runs the program's real run sequence in-process on the fake backend, its
// standard output a pipe read by a thread of the test, and collects what a
// test asserts on.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "app/stop_signal.h"
#include "child_process.h"
#include "fakes/backend/fake_backend.h"

struct RunResult {
    int exitCode = -1;
    std::vector<unsigned char> out;
    std::string err;
    fakebackend::Record record;  // as the run left the backend
    std::uint64_t writes = 0;    // to standard output, with RunControls::countWrites
};

struct RunControls {
    std::size_t readUpTo = SIZE_MAX;  // then the reader closes its end: writes fail
    std::function<void(unsigned nth, std::uint32_t ms)> onWait;
    // Standard output keeps each write's bytes apart (a packet socket), so the reader counts them.
    bool countWrites = false;
};

// Every test starts with no stop request; a write to a reader that went away fails instead of ending the test.
class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        stopRequested.store(false);
        std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override { stopRequested.store(false); }

    // Parses `script` (fake_backend.h; the test fails if it does not parse) and runs the program on it.
    static RunResult run(std::vector<const char*> args, const std::string& script, const RunControls& controls = {}) {
        fakebackend::Script parsed;
        EXPECT_TRUE(fakebackend::parseScript(script, parsed)) << script;
        fakebackend::FakeBackend backend(parsed);
        backend.onWait = controls.onWait;
        args.insert(args.begin(), "procloop");

        int fds[2];
        if (controls.countWrites) {
            EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
            const int size = 8 << 20;  // above any one write
            ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        } else {
            EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        }
        const int savedOut = ::dup(1);
        ::dup2(fds[1], 1);
        ::close(fds[1]);
        RunResult r;
        std::thread reader([&r, fd = fds[0], limit = controls.readUpTo] {
            std::vector<unsigned char> chunk(1 << 20);
            for (ssize_t got = 0; r.out.size() < limit && (got = ::read(fd, chunk.data(), chunk.size())) > 0; ++r.writes) {
                r.out.insert(r.out.end(), chunk.data(), chunk.data() + got);
            }
            if (r.out.size() > limit) r.out.resize(limit);  // what the reader took before it left
            ::close(fd);
        });
        ::testing::internal::CaptureStderr();
        r.exitCode = runSequence(backend, static_cast<int>(args.size()), args.data());
        std::fflush(stdout);
        r.err = ::testing::internal::GetCapturedStderr();
        ::dup2(savedOut, 1);
        ::close(savedOut);
        reader.join();
        r.record = backend.record();
        EXPECT_FALSE(r.record.streamAlive) << "the stream was not torn down";
        return r;
    }
};
