// Runs the program's real run sequence in-process against the fake audio
// service and the platform controls, and collects what a test asserts on.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/run_sequence.h"
#include "app/stop_signal.h"
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
    static void resetAll() {
        fakeaudio::reset();
        fakeaudio::takeJournal();
        fakeplatform::reset();
        stopRequested.store(false);
    }

    // Runs the program; the test fails if it leaves service objects, events or COM behind.
    static RunResult run(std::vector<const char*> args) {
        args.insert(args.begin(), "procloop");
        RunResult r;
        fakeplatform::controls().captureOutput = true;
        ::testing::internal::CaptureStderr();
        r.exitCode = runSequence(static_cast<int>(args.size()), args.data());
        r.err = ::testing::internal::GetCapturedStderr();
        fakeaudio::awaitCompletion();  // a completion the run gave up on still arrives (no test scripts one that never does)
        r.stats = fakeaudio::stats();
        fakeaudio::reset();  // the platform lets go of whatever it still held
        r.out = fakeplatform::controls().output;
        r.journal = fakeaudio::takeJournal();
        EXPECT_EQ(fakeaudio::liveObjects.load(), 0u) << "service objects leaked";
        EXPECT_EQ(fakeplatform::controls().openEvents.size(), 0u)
            << "events left open; the handler's among them means it was never freed";
        EXPECT_EQ(fakeplatform::controls().comDepth, 0) << "COM left initialised";
        return r;
    }
};

// Plays the script's bursts, quickly, then ends with a device error.
constexpr const char* kQuick = "period=1;end=error:88890004;";

// Parses `text` (the script language of fake_audio.h) and loads it; the test fails if it does not parse.
inline fakeaudio::Script loadScript(const std::string& text) {
    fakeaudio::Script script;
    EXPECT_TRUE(fakeaudio::parseScript(text, script)) << text;
    fakeaudio::load(script);
    return script;
}
