// The set-up of a process-loopback capture, step by step in the platform's order.
#include <cstdio>

#include "capture/capture_lines.h"
#include "windows/activation_handler.h"
#include "windows/audio_ids.h"
#include "windows/capture_stream.h"
#include "windows/failure_line.h"
#include "windows/qpc_time.h"

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

// The handler is ours only for the length of this function, so it is let go
// on every way out, including a time-out after which the platform may still
// complete into it.
bool activate(CaptureSession& s, const CaptureRequest& request) {
    AUDIOCLIENT_ACTIVATION_PARAMS params{};
    params.ActivationType = AUDIOCLIENT_ACTIVATION_TYPE_PROCESS_LOOPBACK;
    params.ProcessLoopbackParams.TargetProcessId = request.pid;
    params.ProcessLoopbackParams.ProcessLoopbackMode = request.includeTree
                                                           ? PROCESS_LOOPBACK_MODE_INCLUDE_TARGET_PROCESS_TREE
                                                           : PROCESS_LOOPBACK_MODE_EXCLUDE_TARGET_PROCESS_TREE;
    PROPVARIANT property{};
    property.vt = VT_BLOB;
    property.blob.cbSize = sizeof params;
    property.blob.pBlobData = reinterpret_cast<BYTE*>(&params);

    ComRef<ActivationHandler> handler = ActivationHandler::create();
    HRESULT hr = ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, ids::kIAudioClient, &property,
                                             handler.get(), s.operation.receive());
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
bool setUp(CaptureSession& s, const CaptureRequest& request) {
    if (request.watchTarget) {
        s.target = KernelHandle(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(request.pid)));
        if (!s.target) {
            sayProcessNotOpened(request.pid);
            return false;
        }
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return reportFailure("CoInitializeEx failed", hr);
    s.comInitialized = true;

    if (!activate(s, request)) return false;

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = static_cast<WORD>(request.channels);
    format.nSamplesPerSec = static_cast<DWORD>(request.sampleRate);
    format.nBlockAlign = static_cast<WORD>(request.channels * 4);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.wBitsPerSample = 32;
    format.cbSize = 0;
    sayCaptureFormat(request.sampleRate, request.channels);

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
    sayCaptureStarted(request.sampleRate, request.channels);
    return true;
}

}  // namespace

std::unique_ptr<CaptureStream> openCapture(const CaptureRequest& request, const std::atomic<bool>* stop) {
    auto session = std::make_unique<CaptureSession>();
    if (!setUp(*session, request)) return nullptr;  // torn down here, in order
    // 200 ms of audio: the largest packet the 200 ms buffer can hand over, so
    // a steady stream never allocates.
    session->channels = request.channels;
    session->samples.reserve(static_cast<std::size_t>(request.channels) * (request.sampleRate / 5));
    return std::make_unique<WasapiStream>(std::move(session), stop);
}
