// The set-up of a process-loopback capture, step by step in the platform's order.
#include <cstdio>

#include "capture/capture_lines.h"
#include "output/wav_header.h"
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
// not implemented on it), so the engine is asked to convert to ours, with its
// better resampler: without SRC_DEFAULT_QUALITY every other rate goes through
// the low-quality one.
// https://learn.microsoft.com/windows/win32/coreaudio/audclnt-streamflags-xxx-constants
constexpr DWORD kStreamFlags =
    AUDCLNT_STREAMFLAGS_LOOPBACK | AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
constexpr DWORD kDefaultQuality = 0x08000000;  // AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY; older SDKs lack the name

// The handler is ours only for the length of this function, so it is let go
// on every way out, including a time-out after which the platform may still
// complete into it.
bool activate(CaptureSession& s, const CaptureRequest& request) {
    ComRef<ActivationHandler> handler = ActivationHandler::create();
    PROPVARIANT* property = handler->loopbackProperty(static_cast<DWORD>(request.pid), request.includeTree);
    HRESULT hr = ActivateAudioInterfaceAsync(VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK, ids::kIAudioClient, property,
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
    if (!s.audioClient) return reportFailure("audio client activation failed", E_POINTER);  // never a success code
    return true;
}

// Above two channels the speaker positions must be given: a plain
// WAVEFORMATEX carries none. The positions are the WAVE header's.
// https://learn.microsoft.com/windows/win32/api/mmreg/ns-mmreg-waveformatextensible
WAVEFORMATEXTENSIBLE captureFormat(const CaptureRequest& request) {
    WAVEFORMATEXTENSIBLE format{};
    WAVEFORMATEX& f = format.Format;
    const bool extensible = request.channels > 2;
    f.wFormatTag = static_cast<WORD>(extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_IEEE_FLOAT);
    f.nChannels = static_cast<WORD>(request.channels);
    f.nSamplesPerSec = static_cast<DWORD>(request.sampleRate);
    f.nBlockAlign = static_cast<WORD>(request.channels * 4);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    f.wBitsPerSample = 32;
    f.cbSize = static_cast<WORD>(extensible ? sizeof format - sizeof format.Format : 0);
    if (extensible) {
        format.Samples.wValidBitsPerSample = 32;
        format.dwChannelMask = standardChannelMask(request.channels);
        format.SubFormat = ids::kFloatSubformat;
    }
    return format;
}

// Initialize with the better resampler, or once more without it where the
// engine refuses the flag.
bool initialize(CaptureSession& s, const WAVEFORMATEXTENSIBLE& format) {
    HRESULT hr = s.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags | kDefaultQuality, kBufferDuration, 0,
                                           &format.Format, nullptr);
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "warn: IAudioClient::Initialize hr=0x%08X with the default-quality resampler; retrying without it\n",
                 static_cast<unsigned>(hr));
    hr = s.audioClient->Initialize(AUDCLNT_SHAREMODE_SHARED, kStreamFlags, kBufferDuration, 0, &format.Format, nullptr);
    return SUCCEEDED(hr) || reportFailure("IAudioClient::Initialize", hr);
}

// Everything up to a started stream; false once a step has failed and said so.
bool setUp(CaptureSession& s, const CaptureRequest& request) {
    if (request.watchTarget) {
        s.target = KernelHandle(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(request.pid)));
        if (!s.target) {
            // Gone and not ours to watch differ by the reason.
            // https://learn.microsoft.com/windows/win32/api/processthreadsapi/nf-processthreadsapi-openprocess
            std::fprintf(stderr, "error: could not open process %lu hr=0x%08X\n", static_cast<unsigned long>(request.pid),
                         static_cast<unsigned>(HRESULT_FROM_WIN32(GetLastError())));
            return false;
        }
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) return reportFailure("CoInitializeEx failed", hr);
    s.comInitialized = true;

    if (!activate(s, request)) return false;

    const WAVEFORMATEXTENSIBLE format = captureFormat(request);
    sayCaptureFormat(request.sampleRate, request.channels);

    s.captureEvent = EventHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!s.captureEvent) {
        std::fprintf(stderr, "error: CreateEvent failed\n");
        return false;
    }
    if (!initialize(s, format)) return false;
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
