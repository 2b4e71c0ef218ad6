#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

class StatusLine;

// What else ends a capture as a stop request does, and whether the stream keeps time.
struct CaptureLimits {
    HANDLE targetProcess = nullptr;  // signalled when the target ends; null: not watched
    ULONGLONG durationMs = 0;        // from the loop's start; 0: no limit (continuous: that much audio)
    bool continuous = false;         // empty time written as zeros (see ContinuousOutput)
    std::uint64_t startTime = 0;     // continuous: output frame 0's time, 100 ns on the performance counter
};

// Drains packets to standard output until a stop is requested, a limit is
// reached, standard output fails or the audio service reports an error. Every
// way out returns here; the caller's teardown is the same for all of them. The
// status line, when active, follows what is written and is erased before any
// line of the loop's own.
void runCaptureLoop(IAudioCaptureClient* captureClient, HANDLE captureEvent, const WAVEFORMATEX& captureFormat,
                    std::uint32_t channels, std::vector<float>& sampleBuffer, const std::atomic<bool>& stop,
                    StatusLine& status, const CaptureLimits& limits = CaptureLimits{});
