#include "capture/run_capture.h"

#include <cstdio>
#include <vector>

#include "capture/activation_handler.h"
#include "capture/capture_loop.h"
#include "capture/continuous_output.h"
#include "capture/failure_line.h"
#include "capture/unique_handle.h"
#include "output/status_line.h"
#include "output/wav_output.h"
#include "platform/audio_ids.h"
#include "platform/com_ref.h"
#include "platform/platform.h"

namespace {

constexpr DWORD kActivationTimeoutMs = 8000;
// 200 ms in 100-ns units: the shared-mode buffer the engine fills between our
// wake-ups; long enough to ride out a scheduling hiccup without losing audio.
// https://learn.microsoft.com/windows/win32/api/audioclient/nf-audioclient-iaudioclient-initialize
constexpr REFERENCE_TIME kBufferDuration = 2000000;
// The process-loopback client has no mix format of its own (GetMixFormat is
// not implemented on it), so the engine is asked to convert to ours.
// https://learn.microsoft.com/windows/win32/coreaudio/audclnt-streamflags-xxx-constants
constexpr DWORD kStreamFlags =
    AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;

// Everything the run acquires. Members are released by tearDown() in the
// platform's order, not by declaration order.
struct Session {
    KernelHandle target;  // the target process, while the run ends with it
    bool comInitialized = false;
    ComRef<IActivateAudioInterfaceAsyncOperation> operation;
    ComRef<IAudioClient> audioClient;
    EventHandle captureEvent;
    ComRef<IAudioCaptureClient> captureClient;
    MmcssHandle mmcss;
    bool started = false;
    std::uint64_t startTime = 0;  // just before the stream started, on the clock of its packets
    std::vector<float> sampleBuffer;
};

// The handler is ours only for the length of this function, so it is let go
// on every way out, including a time-out after which the platform may still
// complete into it.
bool activate(Session& s, const CaptureOptions& options, std::uint32_t pid) {
    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    params.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    params.ProcessLoopbackParams.TargetProcessId = pid;
    params.ProcessLoopbackParams.ProcessLoopbackMode = options.includeChildren
                                                           ? PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE
                                                           : PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE;
    PROPVARIANT property{};
    property.vt = VT_BLOB;
    property.blob.cbSize = sizeof params;
    property.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

    ComRef<ActivationHandler> handler = ActivationHandler::create();
    HRESULT hr = ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, ids::kIAudioClient, &property, handler.get(),
                                             s.operation.receive());
    if (FAILED(hr)) return reportFailure("ActivateAudioInterfaceAsync", hr);

    if (handler->completionEvent() == nullptr ||
        WaitForSingleObject(handler->completionEvent(), kActivationTimeoutMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "error: audio interface activation timed out\n");
        return false;
    }
    hr = handler->activationResult();
    if (FAILED(hr)) return reportFailure("audio client activation failed", hr);

    s.audioClient = ComRef<IAudioClient>::share(handler->audioClient());
    handler.reset();
    if (!s.audioClient) return reportFailure("audio client activation failed", S_OK);
    return true;
}

// Everything up to a started stream; false once a step has failed and said so.
bool setUp(Session& s, const CaptureOptions& options, std::uint32_t pid, WAVEFORMATEX& format) {
    if (options.stopWithTarget) {
        s.target = KernelHandle(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
        if (!s.target) {
            std::fprintf(stderr, "error: could not open process %lu\n", static_cast<unsigned long>(pid));
            return false;
        }
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return reportFailure("CoInitializeEx failed", hr);
    s.comInitialized = true;

    if (!activate(s, options, pid)) return false;

    format = WAVEFORMATEX{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = static_cast<WORD>(options.channels);
    format.nSamplesPerSec = static_cast<DWORD>(options.sampleRate);
    format.nBlockAlign = static_cast<WORD>(options.channels * 4);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.wBitsPerSample = 32;
    format.cbSize = 0;
    std::fprintf(stderr, "info: capture format %u Hz %u ch %u bit float\n", static_cast<unsigned>(format.nSamplesPerSec),
                 static_cast<unsigned>(format.nChannels), 32u);

    s.captureEvent = EventHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!s.captureEvent) {
        std::fprintf(stderr, "error: CreateEvent failed\n");
        return false;
    }
    hr = s.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kBufferDuration, 0, &format, nullptr);
    if (FAILED(hr)) return reportFailure("IAudioClient::Initialize", hr);
    hr = s.audioClient->SetEventHandle(s.captureEvent.get());
    if (FAILED(hr)) return reportFailure("SetEventHandle", hr);
    hr = s.audioClient->GetService(ids::kIAudioCaptureClient, s.captureClient.receiveVoid());
    if (FAILED(hr)) return reportFailure("GetService(IAudioCaptureClient)", hr);

    // Without the scheduler's boost capture still works, only with more risk
    // of glitches under load, so a refusal is not worth stopping for.
    DWORD taskIndex = 0;
    s.mmcss = MmcssHandle(AvSetMmThreadCharacteristicsW(L"Audio", &taskIndex));

    s.startTime = performanceTime();
    hr = s.audioClient->Start();
    if (FAILED(hr)) return reportFailure("IAudioClient::Start", hr);
    s.started = true;
    std::fprintf(stderr, "info: capture started sampleRate=%u channels=%u\n",
                 static_cast<unsigned>(format.nSamplesPerSec), static_cast<unsigned>(format.nChannels));
    return true;
}

// One teardown for every path: it releases only what was acquired, always in
// the same order, and everything before COM goes away.
void tearDown(Session& s) {
    if (s.started) s.audioClient->Stop();
    s.mmcss.reset();
    s.captureEvent.reset();
    std::vector<float>().swap(s.sampleBuffer);
    s.captureClient.reset();
    s.audioClient.reset();
    s.operation.reset();
    if (s.comInitialized) CoUninitialize();
    s.target.reset();
}

}  // namespace

int runCapture(const CaptureOptions& options, std::uint32_t pid, const std::atomic<bool>& stop) {
    Session s;
    WAVEFORMATEX format{};
    const bool started = setUp(s, options, pid, format);
    if (started) {
        // 200 ms of audio: the largest packet the 200 ms buffer can hand over,
        // so a steady stream never allocates.
        s.sampleBuffer.reserve(static_cast<std::size_t>(options.channels) *
                               static_cast<std::size_t>(options.sampleRate / 5));
        const auto channels = static_cast<std::uint32_t>(options.channels);
        CaptureLimits limits;
        limits.targetProcess = s.target.get();
        limits.durationMs = static_cast<ULONGLONG>(options.durationSeconds) * 1000u;
        limits.continuous = options.continuous;
        limits.startTime = s.startTime;
        StatusLine status;
        WavOutput wav;
        if (!options.wav || beginWav(wav, format.nSamplesPerSec, channels)) {
            status.start(channels);
            runCaptureLoop(s.captureClient.get(), s.captureEvent.get(), format, channels, s.sampleBuffer, stop, status,
                           limits);
            status.erase();
        }
        if (options.wav) finishWav(wav);
    }
    tearDown(s);
    if (!started) return 1;
    std::fprintf(stderr, "info: capture stopped\n");
    return 0;
}
