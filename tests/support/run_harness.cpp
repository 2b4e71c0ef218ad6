#include "run_harness.h"

#include <cstring>

#include "app/run_sequence.h"
#include "app/stop_signal.h"
#include "fakes/audio/journal.h"
#include "platform/posix/control.h"
#include "stream_capture.h"

void RunTest::SetUp() {
    engine::reset();
    standin::reset();
    stopRequested.store(false);
}

void RunTest::TearDown() {
    engine::reset();
    standin::reset();
    stopRequested.store(false);
}

RunResult RunTest::run(std::initializer_list<const char*> args, std::size_t readLimit) {
    std::vector<const char*> argv{"procloop"};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult result;
    {
        StreamCapture capture(readLimit);
        result.exitCode = runSequence(static_cast<int>(argv.size()), argv.data());
        capture.finish();
        result.out = capture.out();
        result.err = capture.err();
    }
    if (awaitLateCompletion_) engine::awaitCompletion();
    result.stats = engine::stats();
    engine::reset();  // the platform lets go of whatever it still held
    result.journal = journal::entries();
    result.liveObjects = engine::stats().liveObjects;
    result.openEvents = standin::openEvents();
    return result;
}

engine::Script scriptOf(std::vector<std::vector<engine::Packet>> bursts) {
    engine::Script script;
    script.bursts = std::move(bursts);
    script.end = engine::End::ServiceError;
    script.endStatus = AUDCLNT_E_DEVICE_INVALIDATED;
    script.periodMs = 1;
    return script;
}

std::vector<unsigned char> bytesOf(const std::vector<float>& samples) {
    std::vector<unsigned char> bytes(samples.size() * sizeof(float));
    if (!samples.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

engine::Packet floatPacket(const std::vector<float>& samples, std::uint32_t channels) {
    engine::Packet packet;
    packet.frames = static_cast<std::uint32_t>(samples.size() / channels);
    packet.bytes = bytesOf(samples);
    return packet;
}

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& journal,
                                             std::initializer_list<const char*> prefixes) {
    std::vector<std::string> kept;
    for (const std::string& entry : journal) {
        for (const char* prefix : prefixes) {
            if (entry.rfind(prefix, 0) == 0) {
                kept.push_back(entry);
                break;
            }
        }
    }
    return kept;
}
