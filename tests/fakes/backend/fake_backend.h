// A scripted capture backend for the shared program: packets of known bytes
// or a tone on a clock of its own, the failures a platform can end a stream
// with, and the questions about processes and windows. In-process its clock
// is virtual (a wait takes no time, so runs are exact); as procloop_fake it
// runs in real time and leaves the console, processes and windows to the real
// platform backend it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/backend.h"
#include "support/test_signals.h"

namespace fakebackend {

struct Packet {
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;  // CapturedPacket's
};

using testsignals::Stretches;  // ms since the stream started

struct Script {
    bool openFails = false;  // open says "error: fake capture refused" and fails
    bool openHangs = false;  // open never returns
    // Each burst is handed over at one wait, `periodMs` after the one before; every
    // packet carries the next bytes of testsignals::patternBytes(), whatever its flags.
    std::vector<std::vector<Packet>> bursts;
    // After the bursts: the stream is lost ("warn: fake stream lost"), or nothing more
    // comes, or a 440 Hz tone, one packet a period on the stream's clock into a buffer of
    // 200 ms whose oldest packets go when the program falls behind.
    enum class End { Lost, Quiet, Tone } end = End::Lost;
    unsigned periodMs = 10;
    Stretches silences;  // no tone
    Stretches mutes;     // the tone's packets come flagged silent (their data the tone still)
    Stretches doubts;    // the tone's packets come flagged timestamp error, their times 50 ms off
    Stretches lates;     // tone handed over only at the stretch's end
    Stretches stalls;    // the program is held up for that long (in-process: the clock jumps)
    unsigned exitAtMs = 0;  // the watched target exits then (0: never)
    bool sessionsFail = false;
    std::vector<SessionOwner> sessions;
    std::vector<ProcessEntry> processes;  // without a platform to ask
    std::vector<std::pair<std::uint64_t, std::uint32_t>> windows;  // likewise
};

// ';'-separated, each directive repeatable:
//   burst=<packet>,<packet>...   a packet is <frames> with any of the flags s (silent),
//                                d (discontinuity), t (timestamp error)
//   end=lost|quiet|tone  period=<ms>  silence=<from>:<for>  mute=<from>:<for>  late=<from>:<for>
//   doubt=<from>:<for>
//   stall=<from>:<for>
//   open=fails|hangs  exit=<ms>  sessions=fail  session=<pid>:active|inactive
//   process=<pid>:<parent>:<name>  window=<id>:<pid>
bool parseScript(const std::string& text, Script& script);

// Whether the script silences or mutes the tone `ms` after the start.
bool silentAt(const Script& script, std::uint64_t ms);

// What the program asked for and how the stream went.
struct Record {
    std::vector<CaptureRequest> opens;
    unsigned waits = 0;
    unsigned packets = 0;             // handed over
    std::uint64_t framesDropped = 0;  // lost to a full buffer
    bool streamAlive = false;
};

class FakeBackend final : public CaptureBackend {
public:
    explicit FakeBackend(Script script, std::unique_ptr<CaptureBackend> platform = nullptr, bool realTime = false);
    ~FakeBackend() override;

    void watchConsole(std::atomic<bool>& stop) override;
    void watchEndOfInput() override {
        if (platform_) platform_->watchEndOfInput();
    }
    bool errorIsConsole() override;
    void describePlatform() override {}
    bool sameExecutable(const std::string& a, const std::string& b) const override;
    void writeText(std::FILE* stream, const char* text) override;
    bool listProcesses(std::vector<ProcessEntry>& out) override;
    bool listSessions(std::vector<SessionOwner>& out) override;
    bool windowOwner(std::uint64_t window, std::uint32_t& pid) override;
    std::unique_ptr<CaptureStream> open(const CaptureRequest& request) override;
    // The platform's (procloop_fake); in-process none is started.
    std::unique_ptr<HeldCommand> startCommand(const char* const* argv, const char* outputPath, int& status) override {
        return platform_ ? platform_->startCommand(argv, outputPath, status) : nullptr;
    }

    const Record& record() const { return record_; }
    // Runs at the start of each wait with its number (1-based) and time-out: tests act on the run here.
    std::function<void(unsigned nth, std::uint32_t ms)> onWait;

private:
    class Stream;
    Script script_;
    std::unique_ptr<CaptureBackend> platform_;
    bool realTime_;
    std::atomic<bool>* stop_ = nullptr;
    Record record_;
};

}  // namespace fakebackend
