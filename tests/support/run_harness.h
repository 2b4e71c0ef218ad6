// Runs the program's real run sequence in-process against the stand-in
// platform and engine, and collects everything a test asserts on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/audio/engine.h"

struct RunResult {
    int exitCode = -1;
    std::vector<unsigned char> out;
    std::string err;
    std::vector<std::string> journal;
    engine::Stats stats;       // as the run left the engine
    unsigned liveObjects = 0;  // engine objects alive once the engine let go of everything
    unsigned openEvents = 0;   // events still open then
};

// Every test starts from a host with no faults, no windows, no ntdll, a clean
// engine and no stop request.
class RunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    RunResult run(std::initializer_list<const char*> args, std::size_t readLimit = SIZE_MAX);

    // Let a pending completion arrive after the run instead of cancelling it.
    bool awaitLateCompletion_ = false;
};

// A script that plays `bursts` then ends with a service error, quickly.
engine::Script scriptOf(std::vector<std::vector<engine::Packet>> bursts);
engine::Packet floatPacket(const std::vector<float>& samples, std::uint32_t channels);

std::vector<unsigned char> bytesOf(const std::vector<float>& samples);

// The entries of the journal that start with one of the prefixes, in order.
std::vector<std::string> entriesStartingWith(const std::vector<std::string>& journal,
                                             std::initializer_list<const char*> prefixes);
