#include "windows/capture_stream.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "windows/qpc_time.h"

namespace {
// Two periods of the shared engine (10 ms each) and some room.
constexpr DWORD kLastAudioMs = 50;
}  // namespace

WasapiStream::WasapiStream(std::unique_ptr<CaptureSession> session, const std::atomic<bool>* stop)
    : session_(std::move(session)), stop_(stop) {}

std::uint64_t WasapiStream::now() const { return performanceTime(); }

// The capture event, and the target process when it is watched (index 1).
WaitResult WasapiStream::wait(std::uint32_t ms, CaptureSink& sink) {
    CaptureSession& s = *session_;
    DWORD wait = WAIT_FAILED;
    if (!s.target) {
        wait = WaitForSingleObject(s.captureEvent.get(), ms);
    } else {
        const HANDLE handles[2] = {s.captureEvent.get(), s.target.get()};
        wait = WaitForMultipleObjects(2, handles, FALSE, ms);
    }
    if (wait == WAIT_FAILED) {
        sink.say(s.target ? "error: WaitForMultipleObjects failed\n" : "error: WaitForSingleObject failed\n");
        return WaitResult::Ended;
    }
    // A stop requested during the wait takes effect before anything more is
    // handed over, even with packets waiting.
    if (stop_ != nullptr && stop_->load()) return WaitResult::Continue;
    if (s.target && wait == WAIT_OBJECT_0 + 1) {
        // The target's last audio reaches the engine a period or two after it
        // has gone: wait for it once and write it before saying so.
        WaitForSingleObject(s.captureEvent.get(), kLastAudioMs);
        return drainPending(sink) ? WaitResult::TargetExited : WaitResult::Ended;
    }
    if (wait == WAIT_TIMEOUT) return WaitResult::Continue;
    return drainPending(sink) ? WaitResult::Continue : WaitResult::Ended;
}

bool WasapiStream::drainPending(CaptureSink& sink) {
    UINT32 pending = 0;
    const HRESULT hr = session_->captureClient->GetNextPacketSize(&pending);
    if (FAILED(hr)) {
        char line[64];
        std::snprintf(line, sizeof line, "warn: GetNextPacketSize hr=0x%08X\n", static_cast<unsigned>(hr));
        sink.say(line);
        return false;
    }
    return drain(pending, sink);
}

// Every packet waiting, in order, each copied out and released before the sink
// sees it: the engine wants GetBuffer and ReleaseBuffer within one period, and
// a reader that blocks the write must not hold it up. False once the stream or
// the sink has ended.
bool WasapiStream::drain(UINT32 pending, CaptureSink& sink) {
    CaptureSession& s = *session_;
    while (pending > 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 time = 0;
        const HRESULT hr = s.captureClient->GetBuffer(&data, &frames, &flags, nullptr, &time);
        if (FAILED(hr)) {
            char line[64];
            std::snprintf(line, sizeof line, "warn: GetBuffer hr=0x%08X\n", static_cast<unsigned>(hr));
            sink.say(line);
            return false;
        }
        CapturedPacket packet;
        packet.frames = frames;
        packet.time = time;
        if ((flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) != 0) packet.flags |= CapturedPacket::kDiscontinuity;
        if ((flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) != 0) packet.flags |= CapturedPacket::kTimestampError;
        if ((flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr || frames == 0) {
            packet.flags |= CapturedPacket::kSilent;
        } else {
            // The engine converts to the float format asked for, so a packet is
            // already the program's samples. Within the 200 ms reserved, no allocation.
            const std::size_t count = static_cast<std::size_t>(frames) * s.channels;
            if (s.samples.size() < count) s.samples.resize(count);
            std::memcpy(s.samples.data(), data, count * sizeof(float));
            packet.samples = s.samples.data();
        }
        // Released whatever the output then makes of it, so the engine can go
        // on or shut down cleanly.
        s.captureClient->ReleaseBuffer(frames);
        if (!sink.packet(packet)) return false;
        if (FAILED(s.captureClient->GetNextPacketSize(&pending))) return false;
    }
    return true;
}
