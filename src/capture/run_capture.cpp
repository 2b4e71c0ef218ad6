#include "capture/run_capture.h"

#include <cstdio>
#include <memory>

#include "capture/capture_loop.h"
#include "output/output_stream.h"
#include "output/status_line.h"
#include "output/wav_output.h"

int runCapture(CaptureBackend& backend, const CaptureOptions& options, std::uint32_t pid,
               const std::atomic<bool>& stop, HeldCommand* command) {
    CaptureRequest request;
    request.pid = pid;
    request.includeTree = options.includeChildren;
    request.sampleRate = static_cast<std::uint32_t>(options.sampleRate);
    request.channels = static_cast<std::uint32_t>(options.channels);
    request.watchTarget = options.stopWithTarget;
    std::unique_ptr<CaptureStream> stream = backend.open(request);
    if (!stream) return 1;
    // Before anything is written, so that a reader slow to start holds the command up in nothing.
    int exitCode = 0;
    const bool released = command == nullptr || command->release(exitCode);

    StatusLine status;
    WavOutput wav;
    // Until the loop has left, a stop request cuts every write short; the
    // header's final sizes after it are written whatever happens.
    cutWritesOnStop(&stop);
    if (released && (!options.wav || beginWav(wav, request.sampleRate, request.channels))) {
        status.start(request.channels, backend.errorIsConsole());
        CaptureLimits limits;
        limits.durationMs = static_cast<std::uint64_t>(options.durationSeconds) * 1000u;
        limits.continuous = options.continuous;
        runCaptureLoop(*stream, request.sampleRate, request.channels, stop, status, limits);
    }
    // Before anything else is written: the platform may cut short any write of this thread until then.
    cutWritesOnStop(nullptr);
    status.erase();
    if (options.wav) finishWav(wav);
    stream.reset();
    std::fprintf(stderr, "info: capture stopped\n");
    return exitCode;
}
