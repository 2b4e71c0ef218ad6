#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

// Drains packets to standard output until a stop is requested, standard output
// fails or the audio service reports an error. Every way out returns here; the
// caller's teardown is the same for all of them.
void runCaptureLoop(IAudioCaptureClient* captureClient, HANDLE captureEvent, const WAVEFORMATEX& captureFormat,
                    std::uint32_t channels, std::vector<float>& sampleBuffer, const std::atomic<bool>& stop);
