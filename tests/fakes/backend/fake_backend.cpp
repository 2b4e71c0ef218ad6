#include "fakes/backend/fake_backend.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "capture/capture_lines.h"
#include "support/test_signals.h"

namespace fakebackend {
namespace {

using testsignals::fillPattern;
using testsignals::toneAt;
using testsignals::within;

constexpr std::uint64_t kUnitsPerMs = 10000;
constexpr std::uint64_t kNever = UINT64_MAX;
constexpr unsigned kBufferMs = 200;

std::uint64_t monotonicNow() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 10000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
}

// Alive and not a zombie waiting for its parent.
bool processRuns(std::uint32_t pid) {
    if (pid == 0 || pid > 0x3FFFFFFF || ::kill(static_cast<pid_t>(pid), 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || text.compare(close, 4, ") Z ") != 0;
}

}  // namespace

bool silentAt(const Script& script, std::uint64_t ms) { return within(script.silences, ms) || within(script.mutes, ms); }

class FakeBackend::Stream final : public CaptureStream {
public:
    Stream(FakeBackend& owner, const CaptureRequest& request)
        : owner_(owner), script_(owner.script_), request_(request), clock_(owner.realTime_ ? 0 : 1000 * 10000000ull) {
        start_ = now();
        toneFrames_ = request.sampleRate * script_.periodMs / 1000;
        std::uint32_t largest = toneFrames_;
        for (const auto& burst : script_.bursts) {
            for (const Packet& p : burst) largest = std::max(largest, p.frames);
        }
        samples_.resize(static_cast<std::size_t>(largest) * request.channels);
        owner_.record_.streamAlive = true;
    }
    ~Stream() override { owner_.record_.streamAlive = false; }

    std::uint64_t startTime() const override { return start_; }
    std::uint64_t now() const override { return owner_.realTime_ ? monotonicNow() : clock_; }

    WaitResult wait(std::uint32_t ms, CaptureSink& sink) override {
        Record& record = owner_.record_;
        ++record.waits;
        if (owner_.onWait) owner_.onWait(record.waits, ms);
        const std::uint64_t deadline = now() + ms * kUnitsPerMs;
        const std::uint64_t ready = nextReady();
        advanceTo(std::min(ready, deadline));
        if (targetGone()) return WaitResult::TargetExited;
        if (ready > deadline || stopped()) return WaitResult::Continue;
        return handOver(sink);
    }

private:
    bool stopped() const { return owner_.stop_ != nullptr && owner_.stop_->load(); }

    bool targetGone() const {
        if (!request_.watchTarget) return false;
        if (script_.exitAtMs != 0) return now() >= start_ + script_.exitAtMs * kUnitsPerMs;
        return owner_.realTime_ && !processRuns(request_.pid);
    }

    // When the next thing to hand over is there: a burst, the loss, or a tone packet.
    std::uint64_t nextReady() const {
        if (burst_ < script_.bursts.size()) return start_ + (burst_ + 1) * script_.periodMs * kUnitsPerMs;
        if (script_.end == Script::End::Lost) return now();
        if (script_.end == Script::End::Quiet) return kNever;
        std::uint64_t k = tone_;
        while (within(script_.silences, k * script_.periodMs)) ++k;
        return toneReady(k);
    }

    std::uint64_t toneReady(std::uint64_t k) const {
        std::uint64_t readyMs = (k + 1) * script_.periodMs;
        for (const auto& late : script_.lates) {
            if (k * script_.periodMs >= late.first && k * script_.periodMs - late.first < late.second) {
                readyMs = std::max<std::uint64_t>(readyMs, late.first + late.second);
            }
        }
        return start_ + readyMs * kUnitsPerMs;
    }

    // Time passes; a stall it runs into holds the program up for its length.
    void advanceTo(std::uint64_t t) {
        if (owner_.realTime_) {
            while (!stopped() && monotonicNow() < t) {
                const std::uint64_t left = (t - monotonicNow()) / kUnitsPerMs;
                std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint64_t>(left + 1, 10)));
            }
            return;
        }
        if (t <= clock_) return;
        for (const auto& stall : script_.stalls) {
            const std::uint64_t at = start_ + stall.first * kUnitsPerMs;
            if (at > clock_ && at <= t) t += stall.second * kUnitsPerMs;
        }
        clock_ = t;
    }

    WaitResult handOver(CaptureSink& sink) {
        if (burst_ < script_.bursts.size()) {
            for (const Packet& p : script_.bursts[burst_]) {
                const std::size_t bytes = std::size_t{p.frames} * request_.channels * sizeof(float);
                fillPattern(offset_, reinterpret_cast<unsigned char*>(samples_.data()), bytes);
                offset_ += bytes;
                if (!give(sink, p.frames, p.flags, now())) return WaitResult::Ended;
            }
            ++burst_;
            return WaitResult::Continue;
        }
        if (script_.end == Script::End::Lost) {
            sink.say("warn: fake stream lost\n");
            return WaitResult::Ended;
        }
        // The tone packets that are there, less the oldest that no longer fit the buffer.
        std::uint64_t end = tone_;
        std::uint64_t held = 0;
        while (toneReady(end) <= now()) held += within(script_.silences, end++ * script_.periodMs) ? 0 : 1;
        std::uint64_t drop = held > kBufferMs / script_.periodMs ? held - kBufferMs / script_.periodMs : 0;
        std::uint32_t flags = 0;
        for (; tone_ < end; ++tone_) {
            if (within(script_.silences, tone_ * script_.periodMs)) continue;
            if (drop > 0) {
                --drop;
                owner_.record_.framesDropped += toneFrames_;
                flags = CapturedPacket::kDiscontinuity;
                continue;
            }
            const std::uint64_t first = tone_ * toneFrames_;
            for (std::uint32_t f = 0; f < toneFrames_; ++f) {
                const float v = toneAt(first + f, request_.sampleRate);
                std::fill_n(samples_.data() + std::size_t{f} * request_.channels, request_.channels, v);
            }
            if (within(script_.mutes, tone_ * script_.periodMs)) flags |= CapturedPacket::kSilent;
            std::uint64_t time = start_ + tone_ * script_.periodMs * kUnitsPerMs;
            if (within(script_.doubts, tone_ * script_.periodMs)) {
                flags |= CapturedPacket::kTimestampError;
                time += 50 * kUnitsPerMs;
            }
            if (!give(sink, toneFrames_, flags, time)) {
                ++tone_;
                return WaitResult::Ended;
            }
            flags = 0;
        }
        return WaitResult::Continue;
    }

    bool give(CaptureSink& sink, std::uint32_t frames, std::uint32_t flags, std::uint64_t time) {
        CapturedPacket packet;
        // A silent packet still points at data, as WASAPI's may: only the flag says to ignore it.
        packet.samples = samples_.data();
        packet.frames = frames;
        packet.flags = flags;
        packet.time = time;
        ++owner_.record_.packets;
        return sink.packet(packet);
    }

    FakeBackend& owner_;
    const Script& script_;
    CaptureRequest request_;
    std::uint64_t clock_;
    std::uint64_t start_ = 0;
    std::uint32_t toneFrames_ = 0;
    std::vector<float> samples_;
    std::size_t burst_ = 0;
    std::uint64_t offset_ = 0;  // pattern bytes handed over
    std::uint64_t tone_ = 0;    // the next tone packet
};

FakeBackend::FakeBackend(Script script, std::unique_ptr<CaptureBackend> platform, bool realTime)
    : script_(std::move(script)), platform_(std::move(platform)), realTime_(realTime) {}

FakeBackend::~FakeBackend() = default;

void FakeBackend::watchConsole(std::atomic<bool>& stop) {
    stop_ = &stop;
    if (platform_) platform_->watchConsole(stop);
}

bool FakeBackend::errorIsConsole() { return platform_ && platform_->errorIsConsole(); }

bool FakeBackend::sameExecutable(const std::string& a, const std::string& b) const {
    return platform_ ? platform_->sameExecutable(a, b) : a == b;
}

void FakeBackend::writeText(std::FILE* stream, const char* text) {
    if (platform_) return platform_->writeText(stream, text);
    std::fputs(text, stream);
}

bool FakeBackend::listProcesses(std::vector<ProcessEntry>& out) {
    if (platform_) return platform_->listProcesses(out);
    out = script_.processes;
    return true;
}

bool FakeBackend::listSessions(std::vector<SessionOwner>& out) {
    if (script_.sessionsFail) {
        std::fputs("error: fake sessions refused\n", stderr);
        return false;
    }
    out = script_.sessions;
    return true;
}

bool FakeBackend::windowOwner(std::uint64_t window, std::uint32_t& pid) {
    if (platform_) return platform_->windowOwner(window, pid);
    for (const auto& w : script_.windows) {
        if (w.first == window) {
            pid = w.second;
            return true;
        }
    }
    return false;
}

std::unique_ptr<CaptureStream> FakeBackend::open(const CaptureRequest& request) {
    record_.opens.push_back(request);
    if (request.watchTarget && realTime_ && script_.exitAtMs == 0 && !processRuns(request.pid)) {
        sayProcessNotOpened(request.pid);
        return nullptr;
    }
    while (script_.openHangs) std::this_thread::sleep_for(std::chrono::seconds(1));
    sayCaptureFormat(request.sampleRate, request.channels);
    if (script_.openFails) {
        std::fputs("error: fake capture refused\n", stderr);
        return nullptr;
    }
    auto stream = std::make_unique<Stream>(*this, request);
    sayCaptureStarted(request.sampleRate, request.channels);
    return stream;
}

}  // namespace fakebackend
