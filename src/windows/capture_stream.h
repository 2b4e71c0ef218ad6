// A started process-loopback capture: the wait for packets and the drain.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "capture/backend.h"
#include "windows/capture_session.h"

class WasapiStream final : public CaptureStream {
public:
    // `stop`: the console's stop request, when it is watched (else null).
    WasapiStream(std::unique_ptr<CaptureSession> session, const std::atomic<bool>* stop);

    std::uint64_t startTime() const override { return session_->startTime; }
    std::uint64_t now() const override;
    WaitResult wait(std::uint32_t ms, CaptureSink& sink) override;

private:
    bool drainPending(CaptureSink& sink);  // asks how much waits, then drains it
    bool drain(UINT32 pending, CaptureSink& sink);

    std::unique_ptr<CaptureSession> session_;  // its teardown is the stream's
    const std::atomic<bool>* stop_;
};

// A started capture of the request's target, its lines written; null once a
// step has failed, said so and given back what it had.
std::unique_ptr<CaptureStream> openCapture(const CaptureRequest& request, const std::atomic<bool>* stop);
