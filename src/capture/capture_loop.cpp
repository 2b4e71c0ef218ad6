#include "capture/capture_loop.h"

#include <cstdio>
#include <optional>

#include "capture/continuous_output.h"
#include "output/output_stream.h"
#include "output/packet_writer.h"
#include "output/status_line.h"

namespace {

// Bounds how long a stop request goes unnoticed while no audio arrives.
constexpr DWORD kWaitMs = 150;

enum class Drain { Continue, Leave };

// Milliseconds left of the run's duration, at most kWaitMs; 0 once it is over.
DWORD msLeft(const CaptureLimits& limits, ULONGLONG start) {
    if (limits.durationMs == 0) return kWaitMs;
    const ULONGLONG spent = GetTickCount64() - start;
    if (spent >= limits.durationMs) return 0;
    const ULONGLONG left = limits.durationMs - spent;
    return left < kWaitMs ? static_cast<DWORD>(left) : kWaitMs;
}

// The capture event, and the target process when it is watched (index 1).
DWORD waitForPackets(HANDLE captureEvent, const CaptureLimits& limits, DWORD ms, StatusLine& status) {
    DWORD wait = WAIT_FAILED;
    if (limits.targetProcess == nullptr) {
        wait = WaitForSingleObject(captureEvent, ms);
    } else {
        const HANDLE handles[2] = {captureEvent, limits.targetProcess};
        wait = WaitForMultipleObjects(2, handles, FALSE, ms);
    }
    if (wait == WAIT_FAILED) {
        status.erase();
        std::fprintf(stderr, "error: %s failed\n",
                     limits.targetProcess == nullptr ? "WaitForSingleObject" : "WaitForMultipleObjects");
    }
    return wait;
}

bool writeSilence(std::uint32_t frames, std::uint32_t channels, std::vector<float>& sampleBuffer) {
    const std::size_t samples = static_cast<std::size_t>(frames) * channels;
    resizeSamples(sampleBuffer, samples);
    for (float& sample : sampleBuffer) sample = 0.0f;
    return writeAll(sampleBuffer.data(), samples * sizeof(float));
}

// Every packet waiting, in order. The stop flag is not looked at here: packets
// already captured are written before a stop takes effect.
Drain drain(IAudioCaptureClient* captureClient, UINT32 pending, const WAVEFORMATEX& captureFormat,
            std::uint32_t channels, std::vector<float>& sampleBuffer, StatusLine& status,
            ContinuousOutput* continuous) {
    while (pending > 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 time = 0;
        const HRESULT hr =
            captureClient->GetBuffer(&data, &frames, &flags, nullptr, continuous != nullptr ? &time : nullptr);
        if (FAILED(hr)) {
            status.erase();
            std::fprintf(stderr, "warn: GetBuffer hr=0x%08X\n", static_cast<unsigned>(hr));
            return Drain::Leave;
        }
        const bool silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr || frames == 0;
        const bool written = continuous != nullptr ? continuous->packet(data, frames, silent, time)
                             : silent              ? writeSilence(frames, channels, sampleBuffer)
                                                   : writePacket(data, frames, captureFormat, channels, sampleBuffer);
        // Released whether or not it reached the output, so the engine can go on
        // or shut down cleanly.
        captureClient->ReleaseBuffer(frames);
        if (!written) return Drain::Leave;
        if (continuous == nullptr) status.written(sampleBuffer.data(), static_cast<std::size_t>(frames) * channels);
        if (FAILED(captureClient->GetNextPacketSize(&pending))) return Drain::Leave;
    }
    return Drain::Continue;
}

}  // namespace

void runCaptureLoop(IAudioCaptureClient* captureClient, HANDLE captureEvent, const WAVEFORMATEX& captureFormat,
                    std::uint32_t channels, std::vector<float>& sampleBuffer, const std::atomic<bool>& stop,
                    StatusLine& status, const CaptureLimits& limits) {
    const ULONGLONG start = GetTickCount64();
    // Continuous, the run ends once the duration's frames are written rather than when its time is up.
    std::optional<ContinuousOutput> continuous;
    if (limits.continuous) {
        const ULONGLONG totalFrames = limits.durationMs * captureFormat.nSamplesPerSec / 1000;
        continuous.emplace(captureFormat, channels, limits.startTime, totalFrames, sampleBuffer, status);
    }
    for (;;) {
        status.refresh();
        const DWORD ms = continuous ? continuous->waitMs() : msLeft(limits, start);
        if (stop.load() || ms == 0) return;
        const DWORD wait = waitForPackets(captureEvent, limits, ms, status);
        if (wait == WAIT_FAILED) return;
        if (stop.load()) return;
        if (limits.targetProcess != nullptr && wait == WAIT_OBJECT_0 + 1) {
            status.erase();
            std::fprintf(stderr, "info: target process exited\n");
            return;
        }
        if (wait != WAIT_TIMEOUT) {
            UINT32 pending = 0;
            const HRESULT hr = captureClient->GetNextPacketSize(&pending);
            if (FAILED(hr)) {
                status.erase();
                std::fprintf(stderr, "warn: GetNextPacketSize hr=0x%08X\n", static_cast<unsigned>(hr));
                return;
            }
            ContinuousOutput* locked = continuous ? &*continuous : nullptr;
            if (drain(captureClient, pending, captureFormat, channels, sampleBuffer, status, locked) == Drain::Leave) {
                return;
            }
        }
        // After the drain, so packets already waiting take their place before it is filled.
        if (continuous && !continuous->fill()) return;
    }
}
