#include "run_harness.h"

#include <algorithm>
#include <iterator>

#include "app/run_sequence.h"
#include "app/stop_signal.h"

void RunTest::resetAll() {
    fakeaudio::reset();
    fakeaudio::takeJournal();
    fakeplatform::reset();
    stopRequested.store(false);
}

RunResult RunTest::run(std::vector<const char*> args) {
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

fakeaudio::Script loadScript(const std::string& text) {
    fakeaudio::Script script;
    EXPECT_TRUE(fakeaudio::parseScript(text, script)) << text;
    fakeaudio::load(script);
    return script;
}

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& journal,
                                             std::initializer_list<const char*> prefixes) {
    std::vector<std::string> kept;
    std::copy_if(journal.begin(), journal.end(), std::back_inserter(kept), [&](const std::string& entry) {
        return std::any_of(prefixes.begin(), prefixes.end(), [&](const char* prefix) { return entry.rfind(prefix, 0) == 0; });
    });
    return kept;
}
