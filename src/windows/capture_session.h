// What a capture's set-up acquires, given back in the platform's order.
#pragma once

#include <cstdint>
#include <vector>

#include "windows/com_ref.h"
#include "windows/unique_handle.h"
#include "windows/windows_sdk.h"

// Filled step by step by the set-up. The destructor releases only what was
// acquired, always in the same order (not the declaration order), and
// everything before COM goes away: a set-up that fails half-way and a stream
// that ends are torn down alike.
struct CaptureSession {
    CaptureSession() = default;
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    KernelHandle target;  // the target process, while the run ends with it
    bool comInitialized = false;
    ComRef<IActivateAudioInterfaceAsyncOperation> operation;
    ComRef<IAudioClient> audioClient;
    EventHandle captureEvent;
    ComRef<IAudioCaptureClient> captureClient;
    MmcssHandle mmcss;
    bool started = false;
    std::uint32_t channels = 0;
    std::uint64_t startTime = 0;  // just before the stream started, on the clock of its packets
    std::vector<float> samples;   // a packet out of the platform's hands
};
