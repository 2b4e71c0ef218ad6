// Runs the program's real run sequence in-process against the fake audio
// service and the platform controls, and collects what a test asserts on.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/audio/fake_audio.h"
#include "fakes/platform/controls.h"

struct RunResult {
    int exitCode = -1;
    std::vector<unsigned char> out;
    std::string err;
    std::vector<std::string> journal;
    fakeaudio::Stats stats;  // as the run left the service
};

// Every test starts and ends on a host with nothing set, a fresh service and no stop request.
class RunTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
    static void resetAll();

    // Runs the program; the test fails if it leaves service objects, events or COM behind.
    RunResult run(std::vector<const char*> args);
};

// Plays the script's bursts, quickly, then ends with a device error.
constexpr const char* kQuick = "period=1;end=error:88890004;";

// Parses `text` (the script language of fake_audio.h) and loads it; the test fails if it does not parse.
fakeaudio::Script loadScript(const std::string& text);

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& journal,
                                             std::initializer_list<const char*> prefixes);
