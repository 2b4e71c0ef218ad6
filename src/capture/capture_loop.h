#pragma once

#include <atomic>
#include <cstdint>

#include "capture/backend.h"

class StatusLine;

// What else ends a capture as a stop request does, and whether the stream keeps time.
struct CaptureLimits {
    std::uint64_t durationMs = 0;  // on the stream's clock from the loop's start; 0: no limit (continuous: that much audio)
    bool continuous = false;       // empty time written as zeros (see ContinuousOutput)
};

// Writes the stream's packets to standard output until a stop is requested, a
// limit is reached, the target exits, standard output fails or the stream
// ends. Every way out returns here; the caller's teardown is the same for all
// of them. The status line, when active, follows what is written and is erased
// before any line of the loop's own.
void runCaptureLoop(CaptureStream& stream, std::uint32_t sampleRate, std::uint32_t channels,
                    const std::atomic<bool>& stop, StatusLine& status, const CaptureLimits& limits = CaptureLimits{});
